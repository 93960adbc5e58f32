#include "VantorModels/BoundedInflate.h"

#include <zlib.h>

namespace vantor {

namespace {

// windowBits: 15 + 32 reads a zlib or a gzip stream (told apart by their headers), -15 a bare
// deflate stream. A gzip body may hold several members one after the other (as `cat a.gz b.gz`
// makes): each is unpacked in turn, under the one bound. Bytes after the last member that are
// not a member themselves make the body broken.
Inflated inflateWith(QByteArrayView packed, qsizetype maxBytes, int windowBits) {
    Inflated result;
    z_stream stream{};
    if (inflateInit2(&stream, windowBits) != Z_OK) return result;
    const bool gzip = windowBits > 0 && packed.size() >= 2 && quint8(packed[0]) == 0x1f &&
                      quint8(packed[1]) == 0x8b;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    stream.avail_in = static_cast<uInt>(packed.size());
    QByteArray out;
    char chunk[16384];
    int status = Z_OK;
    for (;;) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof chunk;
        status = inflate(&stream, Z_NO_FLUSH);
        const qsizetype produced = qsizetype(sizeof chunk - stream.avail_out);
        if (out.size() + produced > maxBytes) {
            inflateEnd(&stream);
            result.status = Inflated::Status::tooLarge;
            return result;
        }
        out.append(chunk, produced);
        if (status == Z_STREAM_END) {
            // The end of the last member, or of a zlib or bare stream (which have no members).
            if (stream.avail_in == 0 || !gzip) break;
            // Another member follows: gzip only, so that trailing bytes of any other kind fail.
            status = inflateReset2(&stream, 15 + 16);
            if (status != Z_OK) break;
            continue;
        }
        if (status != Z_OK) break;
        // Input used up without the stream's end: the body was cut short.
        if (stream.avail_in == 0 && produced == 0) {
            status = Z_BUF_ERROR;
            break;
        }
    }
    inflateEnd(&stream);
    if (status != Z_STREAM_END) return result;
    result.status = Inflated::Status::ok;
    result.bytes = std::move(out);
    return result;
}

} // namespace

Inflated inflateBounded(QByteArrayView packed, qsizetype maxBytes) {
    // The body is at most a few MiB, which zlib's 32-bit counts hold.
    if (packed.size() > qsizetype(0x7FFFFFFF)) return {};
    Inflated result = inflateWith(packed, maxBytes, 15 + 32);
    if (result.status == Inflated::Status::broken) {
        Inflated bare = inflateWith(packed, maxBytes, -15);
        if (bare.status != Inflated::Status::broken) return bare;
    }
    return result;
}

} // namespace vantor
