#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace vantor {

// Unpacks a body sent with Content-Encoding gzip (every member of it) or deflate (a zlib stream,
// or a bare deflate stream as some servers send), stopping as soon as the result would pass
// `maxBytes`: a small body that unpacks to gigabytes costs no more than maxBytes.
struct Inflated {
    enum class Status { ok, tooLarge, broken };
    Status status = Status::broken;
    QByteArray bytes; // the whole result, only when ok
};

Inflated inflateBounded(QByteArrayView packed, qsizetype maxBytes);

} // namespace vantor
