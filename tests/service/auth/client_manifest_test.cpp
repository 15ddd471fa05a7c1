#include "auth/client_manifest.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "core/service_failure.h"

namespace orlune {
namespace {

std::string decodeFailure(std::string_view json) {
    try {
        decodeClientManifest(json);
    } catch (const ServiceFailure& failure) {
        return failure.errorDescription();
    }
    return "";
}

TEST(ClientManifest, DecodesBothKeysAndIgnoresOthers) {
    EXPECT_EQ(decodeClientManifest(R"({"identifier":"/usr/bin/orlune-vpn","cdhash":"ab01"})"),
              (ClientManifest{"/usr/bin/orlune-vpn", "ab01"}));
    EXPECT_EQ(decodeClientManifest(R"({"cdhash":"ab01","version":3,"identifier":"/x"})"),
              (ClientManifest{"/x", "ab01"}));
}

TEST(ClientManifest, RefusesWhatIsNotAManifest) {
    const struct {
        const char* json;
        const char* message;
    } cases[] = {
        {R"({"identifier":"/x"})", "The client manifest is not valid: \"cdhash\" is missing."},
        {R"({"cdhash":"ab"})", "The client manifest is not valid: \"identifier\" is missing."},
        {R"({"identifier":7,"cdhash":"ab"})", "The client manifest is not valid: \"identifier\" is not a text."},
        {R"({"identifier":"/x","cdhash":null})", "The client manifest is not valid: \"cdhash\" is not a text."},
        {R"(["/x","ab"])", "The client manifest is not valid: it is not a JSON object."},
        {"", "The client manifest is not valid: it is not JSON."},
        {R"({"identifier":"/x","cdhash":"ab")", "The client manifest is not valid: it is not JSON."},
    };
    for (const auto& c : cases) EXPECT_EQ(decodeFailure(c.json), c.message) << c.json;
}

TEST(ClientManifest, ReadsTheFileOrNamesWhyNot) {
    const std::string directory = ::testing::TempDir() + "manifest-" + std::to_string(::getpid());
    std::filesystem::create_directories(directory);
    const std::string path = directory + "/client.json";
    std::ofstream(path) << R"({"identifier":"/usr/bin/orlune-vpn","cdhash":"00ff"})";
    EXPECT_EQ(readClientManifest(path).cdhash, "00ff");

    std::filesystem::remove(path);
    try {
        readClientManifest(path);
        FAIL() << "a missing manifest was read";
    } catch (const ServiceFailure& failure) {
        EXPECT_EQ(failure.errorDescription(), "The client manifest cannot be read. Reinstall Orlune VPN.");
        EXPECT_NE(std::string(failure.what()).find(path), std::string::npos) << "the log names the file";
    }
    std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace orlune
