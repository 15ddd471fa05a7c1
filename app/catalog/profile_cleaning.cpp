#include "catalog/profile_cleaning.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QStringList>

#include <array>
#include <optional>
#include <utility>
#include <vector>

#include "catalog/catalog_parsing.h"
#include "core/tunnel_error.h"

namespace orlune {
namespace {

// Directives that run programs, load code or open a control channel.
constexpr std::array<QStringView, 15> kRefusedDirectives = {
    u"up",
    u"down",
    u"route-up",
    u"route-pre-down",
    u"ipchange",
    u"iproute",
    u"learn-address",
    u"plugin",
    u"config",
    u"script-security",
    u"tls-verify",
    u"auth-user-pass-verify",
    u"client-connect",
    u"client-disconnect",
    u"management",
};

// Credentials must be inline blocks; as directives they would name files on this machine.
constexpr std::array<QStringView, 6> kFileCredentialDirectives = {
    u"ca", u"cert", u"key", u"dh", u"tls-auth", u"tls-crypt",
};

// The app sets these itself so that a dead relay is noticed quickly and never retried.
constexpr std::array<QStringView, 11> kReplacedDirectives = {
    u"connect-timeout", u"server-poll-timeout", u"connect-retry", u"connect-retry-max", u"ping",        u"ping-exit",
    u"ping-restart",    u"keepalive",           u"auth-retry",    u"remote-cert-tls",   u"persist-tun",
};

constexpr std::array<QStringView, 9> kAppendedLines = {
    u"remote-cert-tls server", u"connect-timeout 12", u"server-poll-timeout 15",      u"connect-retry 3 5",
    u"connect-retry-max 1",    u"auth-retry none",    u"pull-filter ignore \"ping\"", u"ping 10",
    u"ping-exit 60",
};

template <std::size_t N>
bool contains(const std::array<QStringView, N>& list, const QString& word) {
    for (QStringView item : list) {
        if (item == word) return true;
    }
    return false;
}

bool isNewline(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 0x0A && u <= 0x0D) || u == 0x85 || u == 0x2028 || u == 0x2029;
}

// Lines split at line breaks, a CR LF pair counting as one break.
std::vector<QStringView> splitLines(QStringView text) {
    std::vector<QStringView> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!isNewline(text.at(i))) continue;
        lines.push_back(text.mid(start, i - start));
        if (text.at(i) == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n') ++i;
        start = i + 1;
    }
    lines.push_back(text.mid(start));
    return lines;
}

QStringView trimSpacesAndTabs(QStringView line) {
    qsizetype begin = 0;
    qsizetype end = line.size();
    while (begin < end && (line.at(begin) == u' ' || line.at(begin) == u'\t')) ++begin;
    while (end > begin && (line.at(end - 1) == u' ' || line.at(end - 1) == u'\t')) --end;
    return line.mid(begin, end - begin);
}

QList<QStringView> words(QStringView line) {
    QList<QStringView> result;
    qsizetype i = 0;
    while (i < line.size()) {
        while (i < line.size() && line.at(i).isSpace()) ++i;
        const qsizetype start = i;
        while (i < line.size() && !line.at(i).isSpace()) ++i;
        if (i > start) result.append(line.mid(start, i - start));
    }
    return result;
}

enum class BlockLine { opening, closing, other };

// `trimmed` is the line without surrounding spaces and tabs.
BlockLine blockLine(QStringView trimmed) {
    if (trimmed.startsWith(u"</") && trimmed.endsWith(u'>')) return BlockLine::closing;
    if (trimmed.startsWith(u'<') && trimmed.endsWith(u'>')) return BlockLine::opening;
    return BlockLine::other;
}

bool isBase64Alphabet(QChar c) {
    const char16_t u = c.unicode();
    return (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9') || u == u'+' || u == u'/';
}

bool isStrictBase64(QStringView text) {
    if (text.size() % 4 != 0) return false;
    qsizetype padding = 0;
    while (padding < 2 && padding < text.size() && text.at(text.size() - 1 - padding) == u'=') ++padding;
    for (qsizetype i = 0; i < text.size() - padding; ++i) {
        if (!isBase64Alphabet(text.at(i))) return false;
    }
    return true;
}

void checkProfile(const std::vector<QStringView>& lines, const Relay& relay) {
    const auto unsafe = [] { return TunnelError(TunnelError::Kind::unsafeServerConfiguration); };
    QSet<QString> blocks;
    std::vector<std::pair<QStringView, QStringView>> remotes;
    // The block being read. Blocks must be closed by their own name and cannot nest: otherwise
    // lines the engine reads as directives would be skipped here as block content.
    std::optional<QString> openBlock;
    for (QStringView raw : lines) {
        const QStringView line = trimSpacesAndTabs(raw);
        switch (blockLine(line)) {
        case BlockLine::opening:
            if (openBlock) throw unsafe();
            // A one-character line "<" cannot be here: it does not also end with ">".
            openBlock = line.mid(1, line.size() - 2).toString().toLower();
            continue;
        case BlockLine::closing:
            if (!openBlock || line.mid(2, line.size() - 3).toString().toLower() != *openBlock) throw unsafe();
            blocks.insert(*openBlock);
            openBlock.reset();
            continue;
        case BlockLine::other:
            break;
        }
        if (openBlock) continue;
        if (line.isEmpty() || line.startsWith(u'#') || line.startsWith(u';')) continue;
        const QList<QStringView> parts = words(line);
        if (parts.isEmpty()) continue;
        const QString directive = parts.front().toString().toLower();
        if (contains(kRefusedDirectives, directive)) throw unsafe();
        if (contains(kFileCredentialDirectives, directive)) throw unsafe();
        // Every remote line counts: the engine reads one without a port as a remote on its
        // default port. A missing host or port is empty here and fails the checks below.
        if (directive == u"remote") remotes.emplace_back(parts.value(1), parts.value(2));
    }
    if (openBlock) throw unsafe();
    for (QStringView required : {u"ca", u"cert", u"key"}) {
        if (!blocks.contains(required.toString())) throw unsafe();
    }
    if (remotes.size() != 1) throw unsafe();
    if (remotes.front().first != relay.hostname) throw unsafe();
    if (!parseWholeNumber(remotes.front().second)) throw unsafe();
}

QString buildCleaned(const std::vector<QStringView>& lines) {
    QString out;
    bool inBlock = false;
    for (QStringView raw : lines) {
        const BlockLine kind = blockLine(trimSpacesAndTabs(raw));
        if (kind == BlockLine::opening) {
            inBlock = true;
        } else if (kind == BlockLine::closing) {
            inBlock = false;
        } else if (inBlock && raw.isEmpty()) {
            continue;
        }
        const QList<QStringView> parts = words(raw);
        if (!parts.isEmpty() && contains(kReplacedDirectives, parts.front().toString().toLower())) continue;
        out.append(raw);
        out.append(u'\n');
    }
    for (QStringView line : kAppendedLines) {
        out.append(line);
        out.append(u'\n');
    }
    return out;
}

}  // namespace

QString decodeProfile(QStringView base64) {
    if (!isStrictBase64(base64)) throw TunnelError(TunnelError::Kind::serverProfileInvalid);
    const QByteArray::FromBase64Result bytes =
        QByteArray::fromBase64Encoding(base64.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!bytes) throw TunnelError(TunnelError::Kind::serverProfileInvalid);
    std::optional<QString> text = decodeUtf8(*bytes);
    if (!text) throw TunnelError(TunnelError::Kind::serverProfileInvalid);
    return std::move(*text);
}

QString cleanedProfile(QStringView profile, const Relay& relay) {
    const std::vector<QStringView> lines = splitLines(profile);
    checkProfile(lines, relay);
    return buildCleaned(lines);
}

}  // namespace orlune
