#include "UpdateTestSupport.h"
#include "VantorWindows/ReleaseNotesView.h"

#include <QAccessible>
#include <QLabel>
#include <gtest/gtest.h>

using namespace vantor;
using releasenotes::ReleaseNotes;

namespace {

using updatetest::ensureApplication;

QStringList texts(const QWidget& view, const char* objectName) {
    QStringList result;
    for (const QLabel* label : view.findChildren<QLabel*>(QString::fromLatin1(objectName))) result << label->text();
    return result;
}

} // namespace

// fontconfig keeps a small cache for the life of the process that LeakSanitizer reports as lost;
// weak, so a definition elsewhere in the test program takes precedence.
extern "C" __attribute__((weak)) const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

TEST(ReleaseNotesViewTest, InlineMarkdownIsOneParagraphOfRichText) {
    ensureApplication();
    const struct {
        const char* markdown;
        const char* html;
    } cases[] = {
        {"plain", "plain"},
        {"*slow* and **fast**", "<i>slow</i> and <b>fast</b>"},
        {"run `vantor`", "run <code>vantor</code>"},
        {"see [the site](https://orvella.me/vantor/)", "see <a href=\"https://orvella.me/vantor/\">the site</a>"},
        {"[bad](javascript:alert(1))", "bad"},
        {"a < b & <b>c</b>", "a &lt; b &amp; &lt;b&gt;c&lt;/b&gt;"},
        {"# not a heading", "# not a heading"},
        {"1. not a list", "1. not a list"},
        {"- not a list", "- not a list"},
        {"> not a quote", "&gt; not a quote"},
        {"***", "***"},
    };
    for (const auto& c : cases) EXPECT_EQ(ReleaseNotesView::inlineHtml(QString::fromUtf8(c.markdown)), c.html) << c.markdown;
}

TEST(ReleaseNotesViewTest, ShowsReleasedVersionsAndSectionsWithItems) {
    ensureApplication();
    const ReleaseNotes notes = ReleaseNotes::parse("## Unreleased\n- soon\n"
                                                   "## 1.1 – Second\nIntro *one*.\n### Added\n- a\n- b\n### Empty\n"
                                                   "## 1.0\n### Fixed\n- c\n");
    ReleaseNotesView view(notes);
    EXPECT_EQ(texts(view, "releaseNotesHeading"), (QStringList{"1.1 – Second", "1.0"}));
    EXPECT_EQ(texts(view, "releaseNotesIntroduction"), QStringList{"Intro <i>one</i>."});
    EXPECT_EQ(texts(view, "releaseNotesSection"), (QStringList{"Added", "Fixed"}));
    EXPECT_EQ(texts(view, "releaseNotesItem"), (QStringList{"a", "b", "c"}));
    EXPECT_TRUE(texts(view, "noReleaseNotes").isEmpty());
}

// Every name a screen reader finds in the accessibility tree under `object`, in tree order.
void accessibleNames(QAccessibleInterface* node, QStringList& names, int depth = 0) {
    if (!node || depth > 50) return;
    names << node->text(QAccessible::Name);
    for (int i = 0; i < node->childCount(); ++i)
        accessibleNames(node->child(i), names, depth + 1);
}

TEST(ReleaseNotesViewTest, BulletsAreNoPartOfTheAccessibilityTree) {
    ensureApplication();
    ReleaseNotesView view(ReleaseNotes::parse("## 1.0\n### Added\n- first\n- second *one*\n"));
    view.resize(520, 600);
    view.show();
    QStringList names;
    accessibleNames(QAccessible::queryAccessibleInterface(&view), names);
    EXPECT_TRUE(names.contains("first")) << names.join('|').toStdString();
    EXPECT_FALSE(names.contains(QStringLiteral("\u2022"))) << names.join('|').toStdString();
    // The items read as their text alone, without a bullet before them.
    const qsizetype first = names.indexOf("first");
    ASSERT_GT(first, 0);
    EXPECT_EQ(names[first - 1], "Added");
    // The bullet is drawn all the same, in front of each item's text.
    for (QLabel* item : view.findChildren<QLabel*>("releaseNotesItem"))
        EXPECT_GT(item->contentsMargins().left(), item->fontMetrics().horizontalAdvance("\u2022"));
}

TEST(ReleaseNotesViewTest, NothingReleasedShowsNoReleaseNotes) {
    ensureApplication();
    const std::optional<ReleaseNotes> cases[] = {std::nullopt, ReleaseNotes::parse(""),
                                                 ReleaseNotes::parse("## Next\n- soon\n## 1.0\n### Fixed\n")};
    for (const auto& notes : cases) {
        ReleaseNotesView view(notes);
        EXPECT_EQ(texts(view, "noReleaseNotes"), QStringList{"No Release Notes"});
        EXPECT_TRUE(texts(view, "releaseNotesHeading").isEmpty());
    }
    EXPECT_FALSE(ReleaseNotesView::readNotes("/nonexistent/ReleaseNotes.md"));
}

TEST(ReleaseNotesViewTest, TheAppsOwnNotesAreCompiledIn) {
    ensureApplication();
    std::unique_ptr<ReleaseNotesView> view(ReleaseNotesView::load());
    ASSERT_TRUE(view->notes());
    const auto released = view->notes()->released();
    ASSERT_FALSE(released.empty());
    EXPECT_EQ(released.front().number, "1.0.0");
}
