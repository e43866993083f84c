#pragma once
#include <QFontMetrics>
#include <QString>

namespace rq::app {

// The number forms the windows show: the shortest general form (up to 15
// significant digits, no trailing zeros: 133.3, 200) and one fixed decimal.
QString FormatGeneral(double value);
QString FormatFixed1(double value);

// `text` in `width` pixels: whole, else cut at the front a word at a time behind an
// ellipsis ("…in0" of "nct6775 in0": the end tells such names apart), else its last
// word, else cut at the front a character at a time.
QString ElideLeadingWords(const QString& text, const QFontMetrics& metrics, int width);

}  // namespace rq::app
