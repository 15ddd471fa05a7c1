#include "catalog/csv_reader.h"

#include <QChar>
#include <QString>

namespace orlune {
namespace {

bool isLineBreak(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 0x0A && u <= 0x0D) || u == 0x85 || u == 0x2028 || u == 0x2029;
}

QString trimmedOfLineBreaks(const QString& field) {
    qsizetype begin = 0;
    qsizetype end = field.size();
    while (begin < end && isLineBreak(field.at(begin))) ++begin;
    while (end > begin && isLineBreak(field.at(end - 1))) --end;
    if (begin == 0 && end == field.size()) return field;
    return field.mid(begin, end - begin);
}

// True when the code point at `i` joins the preceding character into one grapheme cluster
// (combining marks, joiners, emoji modifiers and tags).
bool extendsPrevious(QStringView text, qsizetype i) {
    if (i >= text.size()) return false;
    char32_t cp = text.at(i).unicode();
    if (QChar::isHighSurrogate(cp) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
        cp = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
    }
    if (cp < 0x300) return false;  // fast path: nothing below U+0300 extends
    if (cp == 0x200C || cp == 0x200D) return true;
    if (cp >= 0x1F3FB && cp <= 0x1F3FF) return true;
    if (cp >= 0xE0020 && cp <= 0xE007F) return true;
    switch (QChar::category(cp)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
        return true;
    default:
        return false;
    }
}

// A line break always stands alone as a character, so only commas and quotes need the
// grapheme test.
bool isDelimiter(QStringView text, qsizetype i, char16_t which) {
    return text.at(i).unicode() == which && !extendsPrevious(text, i + 1);
}

class Reader {
public:
    explicit Reader(QStringView text) : text_(text) {}

    std::vector<QStringList> read() {
        const qsizetype size = text_.size();
        qsizetype i = 0;
        while (i < size) {
            const char16_t c = text_.at(i).unicode();
            if (inQuotes_) {
                if (isDelimiter(text_, i, u'"')) {
                    if (i + 1 < size && isDelimiter(text_, i + 1, u'"')) {
                        field_.append(u'"');
                        i += 2;
                    } else {
                        inQuotes_ = false;
                        ++i;
                    }
                    continue;
                }
                if (c == u'\r') {
                    field_.append(u'\n');
                    i = afterLineEnd(i);
                    continue;
                }
                i = appendRun(i, /*quoted=*/true);
                continue;
            }
            if (c == u'"' && field_.isEmpty() && isDelimiter(text_, i, u'"')) {
                inQuotes_ = true;
                ++i;
            } else if (c == u',' && isDelimiter(text_, i, u',')) {
                endField();
                ++i;
            } else if (c == u'\n' || c == u'\r') {
                endField();
                endRow();
                i = afterLineEnd(i);
            } else {
                i = appendRun(i, /*quoted=*/false);
            }
        }
        if (!field_.isEmpty() || !row_.isEmpty()) {
            endField();
            rows_.push_back(std::move(row_));
        }
        return std::move(rows_);
    }

private:
    // Appends ordinary characters up to the next one that may be special, at least one.
    qsizetype appendRun(qsizetype start, bool quoted) {
        qsizetype end = start + 1;
        while (end < text_.size()) {
            const char16_t c = text_.at(end).unicode();
            if (c == u'"' || c == u'\r' || (!quoted && (c == u',' || c == u'\n'))) break;
            ++end;
        }
        field_.append(text_.mid(start, end - start));
        return end;
    }

    // CR LF and a lone CR are one line feed, read in place so the text is never copied.
    qsizetype afterLineEnd(qsizetype i) const {
        if (text_.at(i) == u'\r' && i + 1 < text_.size() && text_.at(i + 1) == u'\n') return i + 2;
        return i + 1;
    }

    void endField() {
        row_.append(trimmedOfLineBreaks(field_));
        field_.clear();
    }

    void endRow() {
        for (const QString& field : row_) {
            if (!field.isEmpty()) {
                rows_.push_back(std::move(row_));
                break;
            }
        }
        row_ = QStringList();
    }

    QStringView text_;
    QString field_;
    QStringList row_;
    std::vector<QStringList> rows_;
    bool inQuotes_ = false;
};

}  // namespace

std::vector<QStringList> parseCSV(QStringView text) {
    return Reader(text).read();
}

}  // namespace orlune
