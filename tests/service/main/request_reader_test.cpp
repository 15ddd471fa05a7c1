#include "main/request_reader.h"

#include <random>
#include <string>

#include <gtest/gtest.h>

#include "control/native_wire.h"

namespace orlune {
namespace {

using Progress = RequestReader::Progress;

std::string frame(const std::string& body) {
    const auto n = static_cast<std::uint32_t>(body.size());
    return std::string{static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
                       static_cast<char>(n)} +
           body;
}

TEST(RequestReader, AFrameInAnyPiecesGivesItsBodyAndIgnoresWhatFollows) {
    std::mt19937 random(16);
    const std::string body = R"({"operation":"connect","profile":")" + std::string(70'000, 'p') + "\"}";
    const std::string bytes = frame(body) + "trailing";
    for (int round = 0; round < 50; ++round) {
        RequestReader reader;
        std::size_t at = 0;
        while (at < bytes.size() && reader.progress() == Progress::incomplete) {
            const std::size_t piece = std::uniform_int_distribution<std::size_t>(1, round % 2 ? 3 : 20'000)(random);
            reader.feed(std::string_view(bytes).substr(at, piece));
            at += piece;
            if (at < 4 + body.size()) {
                EXPECT_EQ(reader.progress(), Progress::incomplete);
            }
        }
        ASSERT_EQ(reader.progress(), Progress::complete);
        EXPECT_EQ(reader.body(), body);
    }
}

TEST(RequestReader, ABadLengthIsRefusedBeforeAnyBody) {
    for (const std::string& prefix :
         {std::string("\0\0\0\0", 4), std::string("\0\x04\0\x01", 4), std::string("\xff\xff\xff\xff", 4)}) {
        RequestReader reader;
        EXPECT_EQ(reader.feed(prefix.substr(0, 2)), Progress::incomplete);
        EXPECT_EQ(reader.feed(prefix.substr(2)), Progress::invalid);
        EXPECT_EQ(reader.feed("{}"), Progress::invalid);
    }
    RequestReader largest;
    EXPECT_EQ(largest.feed(frame(std::string(NativeWire::limit, ' '))), Progress::complete);
}

}  // namespace
}  // namespace orlune
