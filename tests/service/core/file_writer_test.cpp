#include "core/file_writer.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "core/service_failure.h"
#include "support/fd_count.h"

namespace orlune {
namespace {

namespace fs = std::filesystem;

class FileWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orlune-writer-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        directory_ = pattern;
    }
    void TearDown() override { fs::remove_all(directory_); }

    static std::string read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::size_t entries() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(directory_), fs::directory_iterator()));
    }

    fs::path directory_;
};

TEST_F(FileWriterTest, WritesPrivateJsonWhateverTheUmask) {
    const fs::path path = directory_ / "dns.json";
    const mode_t previous = ::umask(0);
    save(nlohmann::json{{"service", "Wi-Fi"}}, path);
    ::umask(previous);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(nlohmann::json::parse(read(path)), (nlohmann::json{{"service", "Wi-Fi"}}));
}

TEST_F(FileWriterTest, ReplacesTheWholeFileAndLeavesNoTemporaryBehind) {
    const fs::path path = directory_ / "dns.json";
    {
        std::ofstream old(path);
        old << "an older and much longer content that must not survive in any part";
    }
    fs::permissions(path, fs::perms::owner_all | fs::perms::others_read);
    save(nlohmann::json::array({"1.1.1.1"}), path);
    EXPECT_EQ(read(path), "[\"1.1.1.1\"]");
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(entries(), 1u);
}

TEST_F(FileWriterTest, FailuresChangeNothingAndCloseEverything) {
    const fs::path path = directory_ / "dns.json";
    save(nlohmann::json{{"kept", true}}, path);
    const auto descriptors = testing::openDescriptors();

    // Text that is not UTF-8 cannot be encoded: the old file stays as it was.
    EXPECT_THROW(save(nlohmann::json{{"service", "\xff"}}, path), ServiceFailure);
    // A missing directory: the platform's error, and nothing is created.
    EXPECT_THROW(save(nlohmann::json{{"a", 1}}, directory_ / "missing" / "dns.json"), ServiceFailure);
    EXPECT_THROW(writeFileAtomically(directory_ / "missing" / "engine.pid", "1"), ServiceFailure);

    EXPECT_EQ(read(path), "{\"kept\":true}");
    EXPECT_EQ(entries(), 1u);
    EXPECT_EQ(testing::openDescriptors(), descriptors);
}

}  // namespace
}  // namespace orlune
