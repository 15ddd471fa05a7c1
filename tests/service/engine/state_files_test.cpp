#include "engine/state_files.h"

#include "engine/engine_log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace orlune {
namespace {

namespace fs = std::filesystem;

TEST(EngineLog, StaysWithinItsLimitKeepingTheEndOnWholeLines) {
    const std::string path = ::testing::TempDir() + "engine-log-" + std::to_string(::getpid());
    constexpr std::size_t limit = 8192;
    UniqueFd engineEnd;
    EngineLog log(path, engineEnd, limit);
    std::string last;
    // Lines of varied length in writes of varied size, drained between some of them.
    for (int i = 0; i < 3000; ++i) {
        last = "line " + std::to_string(i) + " " + std::string(static_cast<std::size_t>(i * 7919 % 97), 'x') + "\n";
        ASSERT_EQ(::write(engineEnd.get(), last.data(), last.size()), static_cast<ssize_t>(last.size()));
        if (i % 13 == 0) log.drain();
    }
    engineEnd.reset();
    for (int i = 0; i < 50 && log.descriptor() >= 0; ++i) log.drain();
    EXPECT_EQ(log.descriptor(), -1) << "the pipe is let go once the engine's end has closed";
    std::ifstream file(path, std::ios::binary);
    const std::string text(std::istreambuf_iterator<char>(file), {});
    EXPECT_LE(text.size(), limit);
    EXPECT_GE(text.size(), limit / 4);
    EXPECT_TRUE(text.starts_with("line ")) << text.substr(0, 40);
    EXPECT_TRUE(text.ends_with(last));
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    fs::remove(path);
}

TEST(PidFile, ParsesOnlyAPlausibleProcessId) {
    const struct {
        const char* text;
        std::optional<std::int32_t> pid;
    } cases[] = {
        {"4242", 4242},
        {" 4242\n", 4242},
        {"\t+4242\r\n", 4242},
        {"2", 2},
        {"\xC2\xA0"
         "4242\xE2\x80\xA8",
         4242},  // Unicode space and line separator
        {"2147483647", 2147483647},
        {"1", std::nullopt},
        {"0", std::nullopt},
        {"-7", std::nullopt},
        {"-0", std::nullopt},
        {"", std::nullopt},
        {" \n", std::nullopt},
        {"+", std::nullopt},
        {"abc", std::nullopt},
        {"42 42", std::nullopt},
        {"4242x", std::nullopt},
        {"2147483648", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"0x10", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(parsePidFile(c.text), c.pid) << '"' << c.text << '"';
}

TEST(Utf8, InvalidSequencesBecomeOneReplacementEach) {
    const std::string r = "\xEF\xBF\xBD";
    const struct {
        std::string bytes;
        std::string text;
    } cases[] = {
        {"plain ascii", "plain ascii"},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"a\xFF"
         "b",
         "a" + r + "b"},
        {"\xC0\xAF", r + r},                  // overlong
        {"\xED\xA0\x80", r + r + r},          // surrogate
        {"\xF4\x90\x80\x80", r + r + r + r},  // past U+10FFFF
        {"\xE2\x82", r},                      // cut at the end
        {"\xE2\x82x", r + "x"},               // cut in the middle
        {"\x82\xAC tail", r + r + " tail"},   // the tail began inside a character
    };
    for (const auto& c : cases) EXPECT_EQ(decodeUtf8Lossy(c.bytes), c.text);
}

TEST(LogTail, ReturnsTheLast64KiBOrTheWholeShortLog) {
    const std::string path = ::testing::TempDir() + "tail-" + std::to_string(::getpid());
    EXPECT_EQ(readLogTail(path), "") << "missing log";
    std::ofstream(path) << "short log\n";
    EXPECT_EQ(readLogTail(path), "short log\n");
    std::ofstream(path, std::ios::trunc) << "HEAD" << std::string(kLogTailSize - 6, 'x') << "END";
    const std::string tail = readLogTail(path);
    EXPECT_EQ(tail.size(), kLogTailSize);
    EXPECT_EQ(tail.substr(0, 4), "EADx");
    EXPECT_EQ(tail.substr(tail.size() - 3), "END");
    fs::remove(path);
}

}  // namespace
}  // namespace orlune
