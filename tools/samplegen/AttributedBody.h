#pragma once

#include <QByteArray>
#include <QString>

// A Messages attributedBody for text, as the phone writes it: an NSArchiver typedstream of an
// NSMutableAttributedString whose NSMutableString holds the text, followed by one attribute run
// over the whole text. Lengths of over 127 and over 32,767 bytes take the two longer forms.
QByteArray attributedBodyFor(const QString& text);
