#include "VantorModels/Appcast.h"

#include <gtest/gtest.h>

using namespace vantor;

namespace {

QByteArray rss(const QByteArray& items) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<rss version=\"2.0\" xmlns:sparkle=\"urn:feed\"><channel><title>Vantor</title>" +
           items + "</channel></rss>";
}

QByteArray item(const QByteArray& build, const QByteArray& url = "https://example.org/v.tar.gz",
                const QByteArray& extra = {}) {
    return "<item><title>Version " + build + "</title><sparkle:version>" + build +
           "</sparkle:version>" + extra + "<enclosure url=\"" + url + "\" length=\"1\"/></item>";
}

} // namespace

TEST(AppcastTest, ParseBuildAcceptsWholeNumbersInRange) {
    const struct {
        const char* text;
        std::optional<qint64> build;
    } cases[] = {
        {"42", 42},
        {"+42", 42},
        {"-3", -3},
        {"007", 7},
        {"9223372036854775807", 9223372036854775807},
        {"-9223372036854775808", std::numeric_limits<qint64>::min()},
        {"9223372036854775808", std::nullopt},
        {"-9223372036854775809", std::nullopt},
        {"", std::nullopt},
        {"+", std::nullopt},
        {"4.2", std::nullopt},
        {" 42", std::nullopt},
        {"42a", std::nullopt},
        {"+-1", std::nullopt},
        {"\u0664\u0662", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(Appcast::parseBuild(QString::fromUtf8(c.text)), c.build) << c.text;
}

TEST(AppcastTest, TakesTheItemWithTheHighestBuild) {
    const AppcastRead read =
        Appcast::read(rss(item("5") +
                          "<item><title> Vantor 1.2 </title><sparkle:version>12</sparkle:version>"
                          "<sparkle:shortVersionString>1.2.0</sparkle:shortVersionString>"
                          "<description sparkle:format=\"markdown\"><![CDATA[## 1.2\n- *faster*]]></description>"
                          "<sparkle:releaseNotesLink>https://example.org/notes</sparkle:releaseNotesLink>"
                          "<enclosure url=\"https://example.org/vantor-1.2.tar.gz\" length=\"9\"/></item>" +
                          item("9")));
    ASSERT_TRUE(read.ok()) << read.error.toStdString();
    ASSERT_TRUE(read.newest);
    EXPECT_EQ(read.newest->build, 12);
    EXPECT_EQ(read.newest->title, "Vantor 1.2");
    EXPECT_EQ(read.newest->shortVersion, "1.2.0");
    EXPECT_EQ(read.newest->description, "## 1.2\n- *faster*");
    EXPECT_EQ(read.newest->descriptionFormat, "markdown");
    EXPECT_EQ(read.newest->releaseNotesLink, QUrl("https://example.org/notes"));
    EXPECT_EQ(read.newest->download, QUrl("https://example.org/vantor-1.2.tar.gz"));
}

TEST(AppcastTest, VersionsOnTheEnclosureCountWhenTheItemHasNone) {
    const AppcastRead read = Appcast::read(rss("<item><enclosure url=\"http://example.org/a\" sparkle:version=\"7\" "
                                               "sparkle:shortVersionString=\"0.7\"/></item>"));
    ASSERT_TRUE(read.newest);
    EXPECT_EQ(read.newest->build, 7);
    EXPECT_EQ(read.newest->shortVersion, "0.7");
    EXPECT_EQ(read.newest->descriptionFormat, "html");
}

TEST(AppcastTest, UnusableItemsArePassedOver) {
    const AppcastRead read = Appcast::read(rss(item("30", "file:///etc/passwd") + item("31", "javascript:alert(1)") +
                                               item("1.3") + item("32", "") + item("4")));
    ASSERT_TRUE(read.newest) << read.error.toStdString();
    EXPECT_EQ(read.newest->build, 4);
    EXPECT_TRUE(Appcast::read(rss("")).ok());
    EXPECT_FALSE(Appcast::read(rss("")).newest);
}

TEST(AppcastTest, BadFeedsGiveAnErrorAndNoItem) {
    QByteArray deep = "<rss><channel>";
    for (int i = 0; i < 40; ++i) deep += "<x>";
    for (int i = 0; i < 40; ++i) deep += "</x>";
    deep += "</channel></rss>";
    const QByteArray good = rss(item("12"));
    const struct {
        const char* name;
        QByteArray feed;
        const char* error;
    } cases[] = {
        {"empty", "", "ends too early"},
        {"truncated", good.left(good.size() - 20), "ends too early"},
        {"not XML", "{\"version\": 12}", "not well-formed"},
        {"not RSS", "<html><body/></html>", "not an RSS feed"},
        {"no usable item", rss(item("x") + item("3", "ftp://example.org/a")), "no usable item"},
        {"oversized", good + QByteArray(Appcast::maxBytes, ' '), "larger than 1 MiB"},
        {"not UTF-8", rss(item("12")).replace("Version", "Versi\xf3n"), "not UTF-8"},
        {"other encoding", QByteArray(good).replace("utf-8", "ISO-8859-1"), "encoding ISO-8859-1"},
        {"entities", "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY a \"aaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]>"
                     "<rss><channel><item><title>&b;</title></item></channel></rss>",
         "document type"},
        {"deep nesting", deep, "nested too deeply"},
    };
    for (const auto& c : cases) {
        const AppcastRead read = Appcast::read(c.feed);
        EXPECT_FALSE(read.newest) << c.name;
        EXPECT_TRUE(read.error.contains(QLatin1String(c.error))) << c.name << ": " << read.error.toStdString();
    }
}

TEST(AppcastTest, NotesTitlesAndVersionsAreCutToTheirBounds) {
    const QByteArray notes(200'000, 'n'), label(5'000, 'v');
    const AppcastRead read = Appcast::read(
        rss("<item><title>" + label + "</title><sparkle:version>12</sparkle:version>"
            "<sparkle:shortVersionString>" + label + "</sparkle:shortVersionString>"
            "<description>" + notes + "</description>"
            "<enclosure url=\"https://example.org/v\"/></item>"));
    ASSERT_TRUE(read.newest) << read.error.toStdString();
    EXPECT_EQ(read.newest->description, QString(64 * 1024, 'n'));
    EXPECT_EQ(read.newest->title, QString(200, 'v'));
    EXPECT_EQ(read.newest->shortVersion, QString(200, 'v'));
}
