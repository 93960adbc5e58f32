#include "VantorWindows/AboutView.h"

#include "VantorModels/CanvasModel.h"
#include "VantorModels/Updates.h"
#include "VantorWindows/AppIcon.h"
#include "VantorWindows/CanvasView.h"
#include "VantorWindows/TextStyle.h"

#include <QApplication>
#include <QGraphicsDropShadowEffect>
#include <QGraphicsOpacityEffect>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWindow>

namespace vantor {

namespace {

constexpr int headerHeight = 230;
constexpr int iconSide = 168;

// The tagline's size: 1.2 times the application font.
QFont title3() {
    QFont font = QApplication::font();
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * 1.2);
    else
        font.setPixelSize(qRound(font.pixelSize() * 1.2));
    return font;
}

QLabel* secondaryLabel(const QString& text, const QFont& font, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    style::makeSecondary(label);
    label->setAlignment(Qt::AlignHCenter);
    return label;
}

// The app icon, drawn at the screen's pixel ratio.
class IconLabel final : public QWidget {
public:
    explicit IconLabel(QWidget* parent) : QWidget(parent) { setFixedSize(iconSide, iconSide); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        AppIcon::draw(painter, QRectF(rect()));
    }
};

} // namespace

AboutView::Info AboutView::Info::current() {
    // The build number is the one the update check compares, not the broker's release number.
    const BuildInfo running = BuildInfo::running();
    return {QString::fromStdString(running.version), QString::fromStdString(running.buildText),
            QStringLiteral("© 2026 Orvella"), QUrl(QStringLiteral("https://orvella.me/vantor/"))};
}

QString AboutView::title() { return tr("About Vantor"); }

QString AboutView::versionLine(const Info& info) {
    const QString missing = QStringLiteral("\u2013");
    return tr("Version %1 (%2)")
        .arg(info.version.isEmpty() ? missing : info.version,
             info.build.isEmpty() ? missing : info.build);
}

AboutView::AboutView(std::function<void()> onReleaseNotes, std::function<void()> onSettings,
                     Info info, QWidget* parent)
    : QWidget(parent), onReleaseNotes_(std::move(onReleaseNotes)),
      onSettings_(std::move(onSettings)), backdrop_(std::make_unique<CanvasModel>(-12.0, 1.4)) {
    setObjectName("about");
    setBackgroundRole(QPalette::Window);
    setAutoFillBackground(true);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // Header: the canvas, fading out downwards, under the icon. Nothing posts to the backdrop,
    // so it shows the tiles at their fixed tilt and scale.
    auto* header = new QWidget(this);
    header->setFixedHeight(headerHeight);
    auto* stack = new QGridLayout(header);
    stack->setContentsMargins(0, 0, 0, 0);
    auto* canvas = new CanvasView(*backdrop_, header);
    canvas->setObjectName("aboutBackdrop");
    canvas->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* fade = new QGraphicsOpacityEffect(canvas);
    QLinearGradient mask(0, 0, 0, 1);
    mask.setCoordinateMode(QGradient::ObjectBoundingMode);
    mask.setColorAt(0, Qt::black);
    mask.setColorAt(1, Qt::transparent);
    fade->setOpacityMask(mask);
    canvas->setGraphicsEffect(fade);
    stack->addWidget(canvas, 0, 0);
    auto* icon = new IconLabel(header);
    icon->setObjectName("aboutIcon");
    icon->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* shadow = new QGraphicsDropShadowEffect(icon);
    shadow->setColor(QColor(0, 0, 0, 77));
    shadow->setBlurRadius(18 * 2);
    shadow->setOffset(0, 8);
    icon->setGraphicsEffect(shadow);
    stack->addWidget(icon, 0, 0, Qt::AlignCenter);
    column->addWidget(header);

    // Name and tagline.
    column->addSpacing(4);
    auto* name = new QLabel(QStringLiteral("Vantor"), this);
    QFont nameFont = QApplication::font();
    nameFont.setPixelSize(36);
    nameFont.setBold(true);
    name->setFont(nameFont);
    name->setAlignment(Qt::AlignHCenter);
    column->addWidget(name);
    column->addSpacing(6);
    auto* tagline =
        secondaryLabel(tr("Scroll and zoom with your SpaceMouse"), title3(), this);
    tagline->setObjectName("aboutTagline");
    column->addWidget(tagline);

    // Version, author and web page.
    column->addSpacing(18);
    const QFont callout = style::callout();
    auto* version = secondaryLabel(versionLine(info), callout, this);
    version->setObjectName("aboutVersion");
    column->addWidget(version);
    column->addSpacing(4);
    auto* author = secondaryLabel(tr("By %1").arg(info.author), callout, this);
    author->setObjectName("aboutAuthor");
    column->addWidget(author);
    column->addSpacing(4);
    QString address = info.website.toString(QUrl::RemoveScheme).mid(2); // without "//"
    auto* link = new QLabel(QStringLiteral("<a href=\"%1\">%2</a>")
                                .arg(info.website.toString(QUrl::FullyEncoded).toHtmlEscaped(),
                                     address.toHtmlEscaped()),
                            this);
    link->setObjectName("aboutWebsite");
    link->setFont(callout);
    link->setAlignment(Qt::AlignHCenter);
    link->setTextFormat(Qt::RichText);
    link->setOpenExternalLinks(true);
    column->addWidget(link);

    // The two buttons.
    column->addSpacing(22);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    buttons->addStretch();
    auto* notes = new QPushButton(tr("&Release Notes…"), this);
    notes->setObjectName("aboutReleaseNotes");
    auto* settings = new QPushButton(tr("&Settings…"), this);
    settings->setObjectName("aboutSettings");
    settings->setDefault(true);
    settings_ = settings;
    for (QPushButton* button : {notes, settings}) // the large control size
        button->setMinimumSize(button->sizeHint() + QSize(20, 6));
    connect(notes, &QPushButton::clicked, this, [this] {
        if (onReleaseNotes_) onReleaseNotes_();
    });
    connect(settings, &QPushButton::clicked, this, [this] {
        if (onSettings_) onSettings_();
    });
    buttons->addWidget(notes);
    buttons->addWidget(settings);
    buttons->addStretch();
    column->addLayout(buttons);
    column->addStretch(1);
    column->addSpacing(24);
}

AboutView::~AboutView() {
    // The canvas view refers to the backdrop: it goes first.
    qDeleteAll(findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly));
}

void AboutView::configure(QWidget& window) {
    window.setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    window.setFixedSize(width, height);
}

void AboutView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        settings_->click();
        return;
    }
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        window()->close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void AboutView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && window()->windowHandle())
        window()->windowHandle()->startSystemMove();
    QWidget::mousePressEvent(event);
}

} // namespace vantor
