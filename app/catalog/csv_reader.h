#pragma once

#include <QStringList>
#include <QStringView>

#include <vector>

namespace orlune {

// Reads VPN Gate's CSV text into rows of fields. CR LF and lone CR count as line feeds;
// a field that starts with a double quote is quoted (doubled quotes inside stand for one);
// a quote inside an unquoted field is kept; rows whose fields are all empty are dropped,
// except an unterminated last row. Each field loses its leading and trailing line breaks.
// Delimiters are matched per user-perceived character: a comma or quote carrying a
// combining mark is ordinary text.
std::vector<QStringList> parseCSV(QStringView text);

}  // namespace orlune
