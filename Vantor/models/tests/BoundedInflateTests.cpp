#include "VantorModels/BoundedInflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

namespace vantor {
namespace {

// Packs bytes the way a server does: windowBits 15 + 16 for gzip, 15 for a zlib stream, -15 for
// a bare deflate stream.
QByteArray packed(const QByteArray& plain, int windowBits) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, windowBits, 9, Z_DEFAULT_STRATEGY), Z_OK);
    QByteArray out(qsizetype(deflateBound(&stream, uLong(plain.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
    stream.avail_in = uInt(plain.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

using Status = Inflated::Status;

TEST(BoundedInflate, unpacksEachFormUpToTheLimitAndNoFurther) {
    const QByteArray feed = "<rss><channel><item>Vantor</item></channel></rss>";
    const QByteArray exactly(1000, 'x'), oneMore(1001, 'x');
    const QByteArray bomb(64 * 1024 * 1024, '\0'); // 64 MiB in about 64 KiB
    const struct {
        const char* name;
        QByteArray packed;
        Status status;
        QByteArray bytes;
    } cases[] = {
        {"gzip", packed(feed, 31), Status::ok, feed},
        {"zlib", packed(feed, 15), Status::ok, feed},
        {"bare deflate", packed(feed, -15), Status::ok, feed},
        {"nothing packed", packed({}, 31), Status::ok, {}},
        {"exactly the limit", packed(exactly, 31), Status::ok, exactly},
        {"one byte over", packed(oneMore, 31), Status::tooLarge, {}},
        {"bomb", packed(bomb, 31), Status::tooLarge, {}},
        {"bare bomb", packed(bomb, -15), Status::tooLarge, {}},
        {"cut short", packed(feed, 31).chopped(6), Status::broken, {}},
        {"not packed", feed, Status::broken, {}},
        {"empty", {}, Status::broken, {}},
        // gzip members one after the other, as `cat a.gz b.gz` makes them.
        {"two gzip members", packed(feed.left(20), 31) + packed(feed.mid(20), 31), Status::ok,
         feed},
        {"many empty members", packed({}, 31).repeated(50) + packed(feed, 31), Status::ok, feed},
        {"members past the limit", packed(exactly, 31) + packed("x", 31), Status::tooLarge, {}},
        {"second member cut short", packed(feed, 31) + packed(feed, 31).chopped(6),
         Status::broken, {}},
        {"bytes after the last member", packed(feed, 31) + "trailing", Status::broken, {}},
        {"a zlib stream after a member", packed(feed, 31) + packed(feed, 15), Status::broken, {}},
    };
    for (const auto& c : cases) {
        const Inflated inflated = inflateBounded(c.packed, 1000);
        EXPECT_EQ(inflated.status, c.status) << c.name;
        EXPECT_EQ(inflated.bytes, c.bytes) << c.name;
    }
}

} // namespace
} // namespace vantor
