#include "VantorWindows/UpdateWindow.h"

#include "VantorModels/Updates.h"
#include "VantorWindows/TextStyle.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QAbstractTextDocumentLayout>
#include <QTextDocument>
#include <QTextObjectInterface>
#include <QVBoxLayout>

namespace vantor {

namespace {

bool isWebAddress(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"https" || scheme == u"http");
}

// Stands in for Qt's image handler in the notes, which loads a picture straight from the file its
// name gives when no resource answers: an image of the notes takes no room and shows nothing.
class NoImages final : public QObject, public QTextObjectInterface {
    Q_OBJECT
    Q_INTERFACES(QTextObjectInterface)
public:
    using QObject::QObject;
    QSizeF intrinsicSize(QTextDocument*, int, const QTextFormat&) override { return {}; }
    void drawObject(QPainter*, const QRectF&, QTextDocument*, int, const QTextFormat&) override {}
};

// The document of a feed's release notes. Qt's own loader falls back to reading local files for
// anything its widget does not load ("<img src=/dev/zero>" would read without end), so the
// document itself answers every resource with nothing, and draws no images: what the notes name
// is never loaded.
class NotesDocument final : public QTextDocument {
public:
    explicit NotesDocument(QObject* parent)
        : QTextDocument(parent) {
        documentLayout()->registerHandler(QTextFormat::ImageObject, new NoImages(this));
    }

protected:
    QVariant loadResource(int, const QUrl&) override { return {}; }
};

class NotesBrowser final : public QTextBrowser {
public:
    explicit NotesBrowser(QWidget* parent)
        : QTextBrowser(parent) {
        setDocument(new NotesDocument(this));
    }
    QVariant loadResource(int, const QUrl&) override { return {}; }
};

// A label for text from outside (a version, a server's reason phrase): never read as markup.
void showPlain(QLabel* label) {
    label->setTextFormat(Qt::PlainText);
    label->setOpenExternalLinks(false);
}

} // namespace

UpdateWindow::UpdateWindow(QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("updateWindow"));
    setWindowTitle(tr("Software Update"));
    openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 16);
    layout->setSpacing(16);
    const QIcon appIcon = QApplication::windowIcon();
    if (!appIcon.isNull()) {
        auto* icon = new QLabel(this);
        icon->setPixmap(appIcon.pixmap(64, 64));
        icon->setAlignment(Qt::AlignTop);
        layout->addWidget(icon, 0, Qt::AlignTop);
    }

    auto* column = new QVBoxLayout;
    column->setSpacing(8);
    layout->addLayout(column, 1);

    auto* heading = new QLabel(tr("A new version of Vantor is available"), this);
    heading->setObjectName(QStringLiteral("updateHeading"));
    heading->setFont(style::scaled(font(), 1.2, QFont::DemiBold));
    heading->setWordWrap(true);
    column->addWidget(heading);

    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("updateSummary"));
    summary_->setWordWrap(true);
    showPlain(summary_);
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(summary_);

    column->addSpacing(6);
    notesTitle_ = new QLabel(tr("Release Notes:"), this);
    notesTitle_->setFont(style::headline());
    column->addWidget(notesTitle_);

    notes_ = new NotesBrowser(this);
    notes_->setObjectName(QStringLiteral("updateNotes"));
    notes_->setOpenLinks(false);
    notes_->setMinimumHeight(160);
    notes_->document()->setDocumentMargin(10);
    connect(notes_, &QTextBrowser::anchorClicked, this, &UpdateWindow::openSafely);
    column->addWidget(notes_, 1);

    notesLink_ = new QLabel(this);
    notesLink_->setObjectName(QStringLiteral("updateNotesLink"));
    notesLink_->setTextFormat(Qt::RichText);
    notesLink_->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    connect(notesLink_, &QLabel::linkActivated, this,
            [this](const QString& link) { openSafely(QUrl(link)); });
    column->addWidget(notesLink_);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* later = new QPushButton(tr("&Later"), this);
    later->setObjectName(QStringLiteral("updateLater"));
    connect(later, &QPushButton::clicked, this, &QWidget::close);
    auto* download = new QPushButton(tr("&Download"), this);
    download->setObjectName(QStringLiteral("updateDownload"));
    download->setDefault(true);
    download->setAutoDefault(true);
    connect(download, &QPushButton::clicked, this, [this] {
        openSafely(item_.download);
        close();
    });
    buttons->addWidget(later);
    buttons->addWidget(download);
    column->addSpacing(8);
    column->addLayout(buttons);
}

void UpdateWindow::setItem(const AppcastItem& item, const QString& runningVersion,
                           const QString& runningBuild) {
    item_ = item;
    QString offered = item.shortVersion.isEmpty() ? QString::number(item.build) : item.shortVersion;
    QString running = runningVersion;
    if (offered == running) {
        // A new build of the same version: the build numbers tell them apart.
        offered = QStringLiteral("%1 (%2)").arg(offered).arg(item.build);
        running = QStringLiteral("%1 (%2)").arg(running, runningBuild);
    }
    summary_->setText(tr("Vantor %1 is available. You have %2.").arg(offered, running));

    if (item.description.isEmpty()) {
        notes_->clear();
    } else if (item.descriptionFormat == u"markdown") {
        notes_->document()->setMarkdown(
            item.description, QTextDocument::MarkdownFeatures(QTextDocument::MarkdownDialectGitHub |
                                                              QTextDocument::MarkdownNoHTML));
    } else if (item.descriptionFormat == u"plain-text") {
        notes_->setPlainText(item.description);
    } else {
        notes_->setHtml(item.description);
    }
    const bool hasLink = isWebAddress(item.releaseNotesLink);
    notesLink_->setText(hasLink ? QStringLiteral("<a href=\"%1\">%2</a>")
                                      .arg(item.releaseNotesLink.toString().toHtmlEscaped(),
                                           tr("Read the release notes"))
                                : QString());
    notes_->setVisible(!item.description.isEmpty());
    notesLink_->setVisible(hasLink);
    notesTitle_->setVisible(!item.description.isEmpty() || hasLink);
}

void UpdateWindow::openSafely(const QUrl& url) {
    if (isWebAddress(url)) openUrl(url);
}

void UpdateWindow::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (event->isAccepted()) Q_EMIT closed();
}

UpdatePrompt::UpdatePrompt(Updates& updates, QObject* parent)
    : QObject(parent)
    , updates_(updates) {
    connect(&updates, &Updates::updateFound, this, &UpdatePrompt::showUpdate);
    connect(&updates, &Updates::upToDate, this, [this] {
        showMessage(false, tr("You’re up to date."),
                    tr("Vantor %1 is the newest version available.").arg(updates_.version()));
    });
    connect(&updates, &Updates::checkFailed, this, [this](const QString& why) {
        showMessage(true, tr("Vantor could not check for updates."), why);
    });
}

UpdatePrompt::~UpdatePrompt() {
    delete window_;
    delete message_.data();
}

QMessageBox* UpdatePrompt::message() const {
    return message_.data();
}

void UpdatePrompt::showUpdate(const AppcastItem& item, bool userStarted) {
    if (!window_) {
        window_ = new UpdateWindow;
        connect(window_, &UpdateWindow::closed, this,
                [this] { updates_.userDriver.willFinishUpdateSession(); });
        window_->resize(window_->sizeHint());
    }
    window_->setItem(item, updates_.version(), updates_.buildText());
    if (!window_->isVisible()) updates_.userDriver.willHandleShowingUpdate(true);
    // A reminder from an automatic check comes up without taking the focus from the user's work.
    window_->setAttribute(Qt::WA_ShowWithoutActivating, !userStarted);
    window_->show();
    if (userStarted) {
        window_->raise();
        window_->activateWindow();
    }
}

void UpdatePrompt::showMessage(bool failed, const QString& text, const QString& detail) {
    delete message_.data();
    auto* box = new QMessageBox(failed ? QMessageBox::Warning : QMessageBox::Information,
                                tr("Software Update"), text, QMessageBox::Ok);
    box->setObjectName(failed ? QStringLiteral("updateFailed") : QStringLiteral("updateUpToDate"));
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(detail);
    // The detail may be a server's reason phrase: plain text, and no link in it opens anything.
    for (QLabel* label : box->findChildren<QLabel*>())
        if (label->objectName() == u"qt_msgbox_informativelabel") showPlain(label);
    // Message boxes size themselves to their shortest line; a reason of a sentence or two reads
    // better on wider lines.
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout()))
        grid->addItem(new QSpacerItem(380, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
                      grid->rowCount(), 0, 1, grid->columnCount());
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this,
            [this] { updates_.userDriver.willFinishUpdateSession(); });
    message_ = box;
    box->show();
    box->raise();
    box->activateWindow();
}

} // namespace vantor

#include "UpdateWindow.moc"
#include "VantorWindows/moc_UpdateWindow.cpp"
