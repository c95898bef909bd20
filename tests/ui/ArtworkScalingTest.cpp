// The pictures at other font sizes and screen scales: the banner and the icons never overlap text or
// get cut off, the controls keep their template places, and each picture is drawn from the drawing
// made for the screen's pixels (CTest runs this class once more with the screen at twice the pixels).
#include "AboutDialog.h"
#include "DialogUnits.h"
#include "MainDialog.h"
#include "ProgressWindow.h"
#include "UiTestMain.h"
#include "UiTestSupport.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

namespace clipwright::ui::test {

namespace {

QRect PlaceIn(QWidget* window, QWidget* control) {
    return QRect(control->mapTo(window, QPoint(0, 0)), control->size());
}

// `shown` is exactly the drawing at `path`, or at its @2x name on a screen with twice the pixels.
void ExpectDrawingForScreen(const QPixmap& shown, const QString& path) {
    const qreal ratio = qApp->devicePixelRatio();
    QCOMPARE(shown.devicePixelRatio(), ratio);
    QString drawing = path;
    if (ratio >= 2)
        drawing.insert(drawing.lastIndexOf('.'), QStringLiteral("@2x"));
    const QImage expected(drawing);
    QVERIFY2(!expected.isNull(), qPrintable(drawing));
    QCOMPARE(shown.toImage().convertToFormat(QImage::Format_ARGB32),
             expected.convertToFormat(QImage::Format_ARGB32));
}

} // namespace

class ArtworkScalingTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { QTRY_VERIFY(VisibleTopLevelWindows().isEmpty()); }

    void picturesFitAtEveryFontSize_data() {
        QTest::addColumn<int>("dpi");
        for (int dpi : {60, 72, 96, 144})
            QTest::addRow("%d dpi", dpi) << dpi;
    }
    void picturesFitAtEveryFontSize() {
        QFETCH(int, dpi);
        FontAtDpi font(dpi);
        RepairEngine engine;
        MainDialog dialog(engine);
        dialog.show();
        auto* banner = Child<QLabel>(&dialog, "banner");
        const QRect bannerPlace = banner->geometry();
        QVERIFY(dialog.rect().contains(bannerPlace));
        QVERIFY(bannerPlace.bottom() < Child<QLabel>(&dialog, "description")->geometry().top());
        auto* buttonFrame = Child<QPushButton>(&dialog, "fixButton")->parentWidget();
        QVERIFY(bannerPlace.right() < buttonFrame->geometry().left());
        QCOMPARE(banner->pixmap().deviceIndependentSize().toSize(), bannerPlace.size());
        if (dpi == 96)
            QCOMPARE(bannerPlace.size(), QSize(225, 85));

        const DialogUnits units(dialog.font());
        const std::pair<const char*, QRect> templatePlaces[] = {
            {"selectButton", QRect(169, 53, 94, 14)},
            {"fixButton", QRect(169, 70, 94, 14)},
            {"exitButton", QRect(169, 87, 94, 14)},
            {"pathEdit", QRect(7, 115, 262, 13)},
        };
        for (const auto& [name, place] : templatePlaces)
            QCOMPARE(PlaceIn(&dialog, Child<QWidget>(&dialog, name)), units.Rect(place));
        QCOMPARE(PlaceIn(&dialog, buttonFrame), units.Rect(163, 3, 106, 104));

        ProgressWindow progress(&dialog);
        progress.show();
        auto* strip = Child<QLabel>(&progress, "frameIcon");
        QCOMPARE(strip->size(), QSize(32, 32));
        QVERIFY(progress.rect().adjusted(1, 1, -1, -1).contains(strip->geometry()));
        progress.hide();

        AboutDialog about(&dialog);
        about.show();
        QVERIFY(about.rect().contains(Child<QLabel>(&about, "aboutIcon")->geometry()));
        about.hide();
    }

    void picturesAreTheDrawingsForTheScreensPixels() {
        RepairEngine engine;
        MainDialog dialog(engine);
        ExpectDrawingForScreen(Child<QLabel>(&dialog, "banner")->pixmap(),
                               QStringLiteral(":/banner-1002.png"));

        ProgressWindow progress(&dialog);
        int lastFrame = 0;
        connect(&progress, &ProgressWindow::frameShown, this,
                [&lastFrame](int iconId) { lastFrame = iconId; });
        progress.show();
        QVERIFY(QTest::qWaitForWindowExposed(&progress));
        progress.repaint();
        ExpectDrawingForScreen(Child<QLabel>(&progress, "frameIcon")->pixmap(),
                               QStringLiteral(":/icons/frame-%1.png").arg(lastFrame));
        progress.hide();

        AboutDialog about(&dialog);
        ExpectDrawingForScreen(Child<QLabel>(&about, "aboutIcon")->pixmap(),
                               QStringLiteral(":/icons/app-128.png"));
    }
};

CLIPWRIGHT_UI_TEST(ArtworkScalingTest);

} // namespace clipwright::ui::test

#include "ArtworkScalingTest.moc"
