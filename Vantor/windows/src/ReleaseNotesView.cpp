#include "VantorWindows/ReleaseNotesView.h"

#include "VantorWindows/TextStyle.h"

#include <QFile>
#include <QEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QStyle>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <QVBoxLayout>

namespace vantor {

namespace {

QLabel* textLabel(const QString& text, Qt::TextFormat format, QWidget* parent,
                  QLabel* label = nullptr) {
    if (!label) label = new QLabel(text, parent);
    label->setTextFormat(format);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextBrowserInteraction);
    label->setOpenExternalLinks(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

// A list item's text with its bullet drawn in front of the first line, in the secondary colour,
// 8 pixels before the text. The bullet is painted, not a widget of its own: it is no object of
// the accessibility tree, so a screen reader reads the item's text and nothing before it.
class BulletedLabel final : public QLabel {
public:
    explicit BulletedLabel(const QString& html, QWidget* parent) : QLabel(html, parent) {
        indentForBullet();
    }

protected:
    void changeEvent(QEvent* event) override {
        QLabel::changeEvent(event);
        if (event->type() == QEvent::FontChange) indentForBullet();
    }
    void paintEvent(QPaintEvent* event) override {
        QLabel::paintEvent(event);
        QPainter painter(this);
        painter.setFont(font());
        painter.setPen(palette().color(QPalette::PlaceholderText));
        painter.drawText(QPointF(0, contentsRect().top() + fontMetrics().ascent()), bullet());
    }

private:
    static QString bullet() { return QStringLiteral("\u2022"); }
    void indentForBullet() {
        const int indent = fontMetrics().horizontalAdvance(bullet()) + 8;
        if (contentsMargins().left() != indent) setContentsMargins(indent, 0, 0, 0);
    }
};

// Text that would open a block in Markdown ("# x", "> x", "- x", "* x", "1. x", "1) x", a code
// fence) gets its first marker escaped, since the text is one paragraph of inline Markdown.
QString escapeBlockStart(QString text) {
    qsizetype digits = 0;
    while (digits < text.size() && text[digits] >= u'0' && text[digits] <= u'9')
        ++digits;
    if (digits > 0 && digits < text.size() && (text[digits] == u'.' || text[digits] == u')'))
        return text.insert(digits, u'\\');
    if (text.isEmpty()) return text;
    const QChar first = text[0];
    const bool blankAfter = text.size() == 1 || text[1].isSpace();
    const bool opensBlock =
        first == u'#' || first == u'>' || first == u'-' || first == u'+' || first == u'=' ||
        first == u'|' || ((first == u'*' || first == u'_') && blankAfter) ||
        text.startsWith(u"~~~") || (text.startsWith(u"```") && text.indexOf(u'`', 3) < 0);
    if (opensBlock) text.prepend(u'\\');
    return text;
}

bool isSafeLink(const QString& href) {
    const QUrl url(href);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"https" || scheme == u"http" || scheme == u"mailto");
}

} // namespace

ReleaseNotesView::ReleaseNotesView(std::optional<releasenotes::ReleaseNotes> notes, QWidget* parent)
    : QWidget(parent)
    , notes_(std::move(notes)) {
    setObjectName(QStringLiteral("releaseNotesView"));
    setMinimumSize(420, 360);
    const std::vector<releasenotes::ReleaseNotes::Version> released =
        notes_ ? notes_->released() : std::vector<releasenotes::ReleaseNotes::Version>{};
    if (released.empty())
        buildEmpty();
    else
        buildNotes(released);
}

std::optional<releasenotes::ReleaseNotes> ReleaseNotesView::readNotes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) return std::nullopt;
    return releasenotes::ReleaseNotes::parse(
        std::string_view(bytes.constData(), std::size_t(bytes.size())));
}

ReleaseNotesView* ReleaseNotesView::load(QWidget* parent, const QString& path) {
    return new ReleaseNotesView(readNotes(path), parent);
}

QString ReleaseNotesView::inlineHtml(const QString& markdown) {
    QTextDocument document;
    document.setMarkdown(escapeBlockStart(markdown),
                         QTextDocument::MarkdownFeatures(QTextDocument::MarkdownDialectGitHub |
                                                         QTextDocument::MarkdownNoHTML));
    QString html;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (!html.isEmpty()) html += u' ';
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid()) continue;
            const QTextCharFormat format = fragment.charFormat();
            QString piece = fragment.text().toHtmlEscaped();
            const auto wrap = [&piece](const char* tag) {
                piece = QStringLiteral("<%1>%2</%1>").arg(QLatin1String(tag), piece);
            };
            if (format.fontFixedPitch()) wrap("code");
            if (format.fontWeight() >= QFont::DemiBold) wrap("b");
            if (format.fontItalic()) wrap("i");
            if (format.fontStrikeOut()) wrap("s");
            if (format.isAnchor() && isSafeLink(format.anchorHref()))
                piece = QStringLiteral("<a href=\"%1\">%2</a>")
                            .arg(format.anchorHref().toHtmlEscaped(), piece);
            html += piece;
        }
    }
    // Text the Markdown reader could not make anything of is shown as written.
    if (html.isEmpty() && !markdown.trimmed().isEmpty()) return markdown.toHtmlEscaped();
    return html;
}

void ReleaseNotesView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        window()->close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ReleaseNotesView::buildEmpty() {
    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    auto* icon = new QLabel(this);
    icon->setPixmap(style::symbol("text-x-generic", QStyle::SP_FileIcon).pixmap(48, 48));
    icon->setAlignment(Qt::AlignCenter);
    auto* title = new QLabel(tr("No Release Notes"), this);
    title->setObjectName(QStringLiteral("noReleaseNotes"));
    title->setFont(style::scaled(font(), 1.35, QFont::DemiBold));
    title->setAlignment(Qt::AlignCenter);
    layout->addWidget(icon);
    layout->addSpacing(8);
    layout->addWidget(title);
    layout->addStretch();
}

void ReleaseNotesView::buildNotes(
    const std::vector<releasenotes::ReleaseNotes::Version>& versions) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("releaseNotesScroll"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outer->addWidget(scroll);

    auto* content = new QWidget(scroll);
    content->setBackgroundRole(QPalette::Base);
    content->setAutoFillBackground(true);
    auto* column = new QVBoxLayout(content);
    column->setSpacing(28);
    column->setContentsMargins(28, 24, 28, 24);

    const QFont body = font();
    for (const auto& version : versions) {
        auto* entry = new QVBoxLayout;
        entry->setSpacing(12);
        QLabel* heading =
            textLabel(QString::fromStdString(version.heading), Qt::PlainText, content);
        heading->setObjectName(QStringLiteral("releaseNotesHeading"));
        heading->setFont(style::scaled(body, 1.35, QFont::DemiBold));
        entry->addWidget(heading);
        for (const std::string& paragraph : version.introduction) {
            QLabel* text =
                textLabel(inlineHtml(QString::fromStdString(paragraph)), Qt::RichText, content);
            text->setObjectName(QStringLiteral("releaseNotesIntroduction"));
            entry->addWidget(text);
        }
        for (const auto& section : version.sections) {
            if (section.items.empty()) continue;
            auto* block = new QVBoxLayout;
            block->setSpacing(6);
            block->setContentsMargins(0, 4, 0, 0);
            QLabel* title =
                textLabel(QString::fromStdString(section.title), Qt::PlainText, content);
            title->setObjectName(QStringLiteral("releaseNotesSection"));
            title->setFont(style::headline());
            block->addWidget(title);
            for (const std::string& item : section.items) {
                const QString html = inlineHtml(QString::fromStdString(item));
                auto* text = new BulletedLabel(html, content);
                textLabel(html, Qt::RichText, content, text);
                text->setObjectName(QStringLiteral("releaseNotesItem"));
                block->addWidget(text);
            }
            entry->addLayout(block);
        }
        column->addLayout(entry);
    }
    column->addStretch();
    scroll->setWidget(content);
}

} // namespace vantor

#include "VantorWindows/moc_ReleaseNotesView.cpp"
