#pragma once

#include <QByteArray>

#include <optional>

// A protocol-buffer message read field by field, without a schema. Every length and varint is
// checked against the end of the data: a truncated or malformed message ends the reading, and
// what was read before stays usable.
class ProtobufFields final
{
public:
    explicit ProtobufFields(const QByteArray& data) : m_data(data) {}

    // The bytes of the first length-delimited field with this number, if the message has one
    // (empty bytes for a present, empty field).
    std::optional<QByteArray> bytes(quint32 field) const;
    // The first varint field with this number.
    std::optional<quint64> varint(quint32 field) const;

private:
    QByteArray m_data;
};
