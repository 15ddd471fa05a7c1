#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "control/wire_failure.h"
#include "core/tunnel_error.h"
#include "model_fakes.h"
#include "support/await.h"

namespace orlune {
namespace {

using test::await;

QSet<QString> keysOf(const QJsonObject& object) {
    const QStringList keys = object.keys();
    return {keys.begin(), keys.end()};
}

// Scripts read these: every key must be one the manual page documents, the required ones present.
void expectShape(const QJsonObject& object, const QSet<QString>& required, const QSet<QString>& optional,
                 const char* what) {
    const QSet<QString> keys = keysOf(object);
    EXPECT_TRUE(keys.contains(required)) << what << ": " << keys.values().join(",").toStdString();
    EXPECT_TRUE((required + optional).contains(keys)) << what << ": " << keys.values().join(",").toStdString();
}

const QSet<QString> kRelayKeys = {"id", "country", "countryCode", "name", "hostname", "supportsOpenVPN"};
const QSet<QString> kRelayOptional = {"pingMilliseconds", "speedBitsPerSecond", "sessions", "uptimeSeconds"};

TEST(CommandLineArguments, HelpVersionAndUsageErrorsAreAnsweredWithoutTheModel) {
    struct Case {
        QStringList arguments;
        std::optional<int> status;
        bool onError;  // where the text goes
        QString text;
    };
    const std::vector<Case> cases = {
        {{"--version"}, 0, false, "orlune-vpn "},
        {{"--help"}, 0, false, "Usage: orlune-vpn [COMMAND] [--json]"},
        {{"help"}, 0, false, "Usage: orlune-vpn [COMMAND] [--json]"},
        {{"help", "connect"},
         0,
         false,
         "Usage: orlune-vpn connect CODE|RELAY-ID [--catalog FILE] [--fail-closed] [--block-ipv6] [--recently-worked] "
         "[--json]\nConnect to"},
        {{"connect", "--help"}, 0, false, "Usage: orlune-vpn connect CODE|RELAY-ID"},
        {{"status", "extra", "--help"}, 0, false, "Usage: orlune-vpn status [--json]"},
        {{"servers", "-h", "JP", "--json"}, 0, false, "Usage: orlune-vpn servers [CODE]"},
        {{"help", "bogus"}, 2, true, "orlune-vpn: unknown command bogus\nUsage:"},
        {{"bogus"}, 2, true, "orlune-vpn: unknown command bogus"},
        {{"status", "--verbose"}, 2, true, "orlune-vpn: unknown option --verbose"},
        {{"connect"}, 2, true, "orlune-vpn: connect needs an argument\nUsage: orlune-vpn connect"},
        {{"status", "extra"}, 2, true, "orlune-vpn: too many arguments for status"},
        {{"help", "a", "b"}, 2, true, "orlune-vpn: too many arguments for help"},
        {{"--json"}, 2, true, "orlune-vpn: no command"},
        {{"servers", "--catalog"}, 2, true, "orlune-vpn: --catalog needs a file"},
        {{"status", "--catalog", "saved.csv"}, 2, true, "orlune-vpn: --catalog does not apply to status"},
        {{"servers", "JP", "--catalog=saved.csv"}, std::nullopt, false, ""},
        {{"connect", "--catalog", "saved.csv", "JP"}, std::nullopt, false, ""},
        {{"countries", "--json"}, std::nullopt, false, ""},
        {{"connect", "JP"}, std::nullopt, false, ""},
        {{"connect", "JP", "--fail-closed", "--block-ipv6"}, std::nullopt, false, ""},
        {{"status", "--fail-closed"},
         2,
         true,
         "orlune-vpn: only connect takes --fail-closed, --block-ipv6 and --recently-worked"},
    };
    for (const Case& c : cases) {
        QString out, err;
        QTextStream outStream(&out), errStream(&err);
        EXPECT_EQ(CommandLine::answerDirectly(c.arguments, outStream, errStream), c.status)
            << c.arguments.join(' ').toStdString();
        const QString& shown = c.onError ? err : out;
        EXPECT_TRUE(c.text.isEmpty() ? shown.isEmpty() : shown.startsWith(c.text))
            << c.arguments.join(' ').toStdString() << ": " << shown.toStdString();
        EXPECT_TRUE((c.onError ? out : err).isEmpty()) << c.arguments.join(' ').toStdString();
    }
}

class CommandLineTest : public ::testing::Test {
protected:
    CommandLineTest() {
        qputenv("XDG_CACHE_HOME", cache.path().toUtf8());
        jp = test::makeRelay("jp-best", "Japan", "JP", 10, 90'000'000, "198.51.100.11");
        kr = test::makeRelay("kr-only", "Korea Republic of", "KR", 10, 90'000'000, "198.51.100.21");
        hostile = test::makeRelay("$(touch x)", "Japan", "JP", 50, 90'000'000, "198.51.100.12");
        fixture.catalog->relays = {jp, kr, hostile};
    }

    // Runs one command line; the standard output's lines go to `lines`.
    int run(const QStringList& arguments) {
        out.clear();
        err.clear();
        QTextStream outStream(&out), errStream(&err);
        CommandLine commandLine(fixture.model(), {outStream, errStream, [this] { return serviceStatus(); }});
        return await(commandLine.run(arguments));
    }
    QJsonDocument json(int line = 0) const { return QJsonDocument::fromJson(out.split('\n').at(line).toUtf8()); }

    QTemporaryDir cache;
    test::ModelFixture fixture;
    Relay jp, kr, hostile;
    std::function<NativeReply()> serviceStatus = [] {
        NativeReply reply;
        reply.ok = true;
        reply.state = "stopped";
        return reply;
    };
    QString out, err;
};

TEST_F(CommandLineTest, CatalogCommandsPrintTheDocumentedShapesAndKeepPlainWordsForCompletion) {
    ASSERT_EQ(run({"countries", "--json"}), 0) << err.toStdString();
    const QJsonArray countries = json().array();
    ASSERT_EQ(countries.size(), 2);
    for (const auto& country : countries)
        expectShape(country.toObject(), {"code", "name", "relayCount"}, {}, "country");
    EXPECT_EQ(countries.at(0).toObject().value("code").toString(), "JP");
    EXPECT_EQ(countries.at(0).toObject().value("relayCount").toInt(), 2);

    ASSERT_EQ(run({"servers", "KR", "--json"}), 0);
    const QJsonArray relays = json().array();
    ASSERT_EQ(relays.size(), 1);
    expectShape(relays.at(0).toObject(), kRelayKeys, kRelayOptional, "relay");
    EXPECT_EQ(relays.at(0).toObject().value("id").toString(), kr.id);
    EXPECT_EQ(run({"servers", "Japan"}), 2);

    // The shell expands the completion's words: a relay id with shell syntax is left out.
    QFile words(cache.filePath("orlune-vpn/completion"));
    ASSERT_TRUE(words.open(QIODevice::ReadOnly));
    const QString content = QString::fromUtf8(words.readAll());
    EXPECT_TRUE(content.contains("JP\t" + jp.id + "\n")) << content.toStdString();
    EXPECT_TRUE(content.contains("KR\t" + kr.id + "\n"));
    EXPECT_FALSE(content.contains("touch"));
}

TEST_F(CommandLineTest, HistoryAndServersCarryWhatEachRelayDidInTheDocumentedShapes) {
    ASSERT_EQ(run({"history"}), 0);
    EXPECT_EQ(out, "No relay has been tried yet.\n");
    fixture.tunnel->outcomes[jp.id] = std::make_exception_ptr(TunnelError::serverConnectionFailed("down"));
    fixture.measurer->rtt = 42;
    ASSERT_TRUE(await(fixture.model().refreshCatalog()));
    fixture.model().selectCountry("JP");
    await(fixture.model().connectSelected());
    ASSERT_TRUE(fixture.model().connectionState().isConnected());

    ASSERT_EQ(run({"history", "--json"}), 0);
    const QJsonArray records = json().array();
    ASSERT_EQ(records.size(), 2);
    const QSet<QString> optional{"lastWorked", "lastFailed", "lastSeen", "rttMilliseconds", "throughputBitsPerSecond"};
    for (const auto& record : records) {
        expectShape(record.toObject(), {"relay", "worked", "failed", "profileKept"}, optional, "history");
        expectShape(record.toObject().value("relay").toObject(), kRelayKeys, kRelayOptional, "history relay");
    }
    ASSERT_EQ(run({"servers", "JP", "--json"}), 0);
    const QJsonArray relays = json().array();
    ASSERT_EQ(relays.size(), 1);  // the failed one is hidden
    expectShape(relays.at(0).toObject(), kRelayKeys, kRelayOptional + QSet<QString>{"history"}, "relay");
    const QJsonObject history = relays.at(0).toObject().value("history").toObject();
    expectShape(history, {"worked", "failed", "profileKept"}, optional, "relay history");
    EXPECT_EQ(history.value("worked").toInt(), 1);
    EXPECT_EQ(history.value("rttMilliseconds").toInt(), 42);
    ASSERT_EQ(run({"history"}), 0);
    EXPECT_TRUE(out.contains(jp.id + "  JP  worked 0, failed 1  failed ")) << out.toStdString();
}

TEST_F(CommandLineTest, ExitStatusesTellUsageFailureNotConnectedAndServiceUnavailableApart) {
    ASSERT_EQ(run({"status", "--json"}), 0);
    expectShape(json().object(), {"ok", "state", "message", "engineVersion"}, {"interface", "ownerPID"}, "status");
    serviceStatus = [] { return NativeReply{}; };  // ok false: the service refused
    EXPECT_EQ(run({"status"}), 1);
    serviceStatus = []() -> NativeReply { throw WireFailure::invalid(); };
    EXPECT_EQ(run({"status"}), 1);
    serviceStatus = []() -> NativeReply { throw WireFailure::unavailable(); };
    EXPECT_EQ(run({"status", "--json"}), 4);
    EXPECT_FALSE(err.isEmpty());

    EXPECT_EQ(run({"connect", "DE"}), 3) << "no relay in the country";
    EXPECT_EQ(run({"connect", "no-such-relay"}), 3);

    fixture.tunnel->outcomes[jp.id] =
        std::make_exception_ptr(TunnelError::backendCommandFailed("Unauthorized local client."));
    EXPECT_EQ(run({"connect", "JP", "--json"}), 4) << "the service cannot be reached";
    serviceStatus = [] { return NativeReply{}; };
    EXPECT_EQ(run({"connect", "JP", "--json"}), 3) << "the service answers";
    const QStringList lines = out.trimmed().split('\n');
    for (const QString& line : lines) {
        const QJsonObject object = QJsonDocument::fromJson(line.toUtf8()).object();
        const bool withText = object.value("state") == "connecting" || object.value("state") == "failed";
        expectShape(object, withText ? QSet<QString>{"state", "text"} : QSet<QString>{"state"}, {},
                    line.toUtf8().constData());
    }
    EXPECT_EQ(QJsonDocument::fromJson(lines.last().toUtf8()).object().value("state").toString(), "failed");

    ASSERT_EQ(run({"disconnect", "--json"}), 0);
    EXPECT_EQ(json().object(), (QJsonObject{{"state", "disconnected"}}));

    // A relay that worked and left the list: refused with a hint, tried with its profile on request.
    const Relay gone = test::makeRelay("jp-gone", "Japan", "JP", 10, 90'000'000, "198.51.100.13");
    fixture.tunnel->outcomes.clear();
    fixture.catalog->relays.push_back(gone);
    ASSERT_TRUE(await(fixture.model().refreshCatalog()));
    fixture.model().select(gone);
    await(fixture.model().connectSelected());
    ASSERT_TRUE(fixture.model().connectionState().isConnected());
    await(fixture.model().disconnect());
    fixture.catalog->relays.pop_back();
    EXPECT_EQ(run({"connect", gone.id}), 3);
    EXPECT_TRUE(err.contains("--recently-worked")) << err.toStdString();
    EXPECT_TRUE(fixture.tunnel->keptProfiles.empty());
    fixture.tunnel->outcomes[gone.id] = std::make_exception_ptr(TunnelError::serverConnectionFailed("gone"));
    EXPECT_EQ(run({"connect", gone.id, "--recently-worked"}), 3);
    ASSERT_EQ(fixture.tunnel->keptProfiles.size(), 1u) << err.toStdString();
    EXPECT_EQ(fixture.tunnel->keptProfiles.front(), std::make_pair(gone.id, "profile of " + gone.id));
}

}  // namespace
}  // namespace orlune
