#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

// The plain text of a Messages attributedBody: an NSArchiver typedstream holding an
// NSAttributedString (or NSMutableAttributedString) whose string is the message's text. U+FFFC
// marks where an attachment sits. Nothing when the blob is no typedstream or holds no string;
// never reads outside blob.
std::optional<QString> attributedBodyText(QByteArrayView blob);
