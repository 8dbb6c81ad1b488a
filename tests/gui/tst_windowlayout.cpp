#include "fixedwindow.h"
#include "form.h"
#include "mainwindow.h"

#include <QLabel>
#include <QScreen>
#include <QtTest>

// The main window and the update window as an operator first sees them: on
// the desktop, their widgets side by side, every text whole, whatever a
// camera calls itself. What the windows do is tested with each window.
class TestWindowLayout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void windowsOpenCentredOnTheDesktop_data();
    void windowsOpenCentredOnTheDesktop();
    void windowsKeepTheirSize_data();
    void windowsKeepTheirSize();
    void widgetsDoNotOverlap_data();
    void widgetsDoNotOverlap();
    void deviceTextStaysText_data();
    void deviceTextStaysText();

private:
    void addWindowRows();
    QWidget *window(const QString &name);

    MainWindow mainWindow;
    // The longest address and MAC a camera can have, and a serial number of
    // the whole 20 bytes of its reply field in the widest characters a serial
    // has.
    Form updateWindow { "255.255.255.255", "FF:FF:FF:FF:FF:FF", "MWMWMWMWMWMWMWMWMWMW" };
};

void TestWindowLayout::initTestCase()
{
    for (QWidget *shown : std::initializer_list<QWidget *> { &mainWindow, &updateWindow }) {
        shown->show();
        QVERIFY(QTest::qWaitForWindowExposed(shown));
    }
}

void TestWindowLayout::addWindowRows()
{
    QTest::addColumn<QString>("window");
    QTest::newRow("main") << "main";
    QTest::newRow("update") << "update";
}

QWidget *TestWindowLayout::window(const QString &name)
{
    return name == "main" ? static_cast<QWidget *>(&mainWindow) : &updateWindow;
}

void TestWindowLayout::windowsOpenCentredOnTheDesktop_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QSize>("size");
    QTest::newRow("main") << "main" << QSize();
    QTest::newRow("update") << "update" << QSize();
    // Any window the same way, the desktop's size itself and beyond it.
    const QSize desktop = QGuiApplication::primaryScreen()->virtualSize();
    QTest::newRow("tiny") << "" << QSize(1, 1);
    QTest::newRow("odd sizes") << "" << QSize(333, 111);
    QTest::newRow("the desktop's size") << "" << desktop;
    QTest::newRow("one pixel short") << "" << desktop - QSize(1, 1);
    QTest::newRow("larger than the desktop") << "" << desktop + QSize(101, 51);
}

// Centred within a pixel on the desktop that spans every screen, and inside
// its free area whenever it fits there.
void TestWindowLayout::windowsOpenCentredOnTheDesktop()
{
    QFETCH(QString, window);
    QFETCH(QSize, size);
    QWidget plain;
    plain.resize(size);
    QWidget *shown = window.isEmpty() ? &plain : this->window(window);
    if (shown == &plain)
        FixedWindow::SetUp(&plain);
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QRect placed(shown->pos(), shown->size());
    const QPoint offCentre = placed.center() - screen->virtualGeometry().center();
    QVERIFY2(qAbs(offCentre.x()) <= 1 && qAbs(offCentre.y()) <= 1,
        qPrintable(QString("%1 pixels right and %2 down of the centre")
                       .arg(offCentre.x())
                       .arg(offCentre.y())));
    const QRect free = screen->availableVirtualGeometry();
    if (placed.width() <= free.width() && placed.height() <= free.height())
        QVERIFY(free.contains(placed));
}

void TestWindowLayout::windowsKeepTheirSize_data()
{
    addWindowRows();
}

// The fixed layouts have no room to grow: no resizing, no maximizing.
void TestWindowLayout::windowsKeepTheirSize()
{
    QFETCH(QString, window);
    QWidget *shown = this->window(window);
    const QSize size = shown->size();
    shown->resize(size * 2);
    QCOMPARE(shown->size(), size);
    shown->resize(size / 2);
    QCOMPARE(shown->size(), size);
    QVERIFY(!shown->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
}

void TestWindowLayout::widgetsDoNotOverlap_data()
{
    addWindowRows();
}

// The widgets the windows are built of, by their names: none hides part of
// another. (The update window's progress bar runs 5 px past its right edge
// by design, so lying inside the window is not asked.)
void TestWindowLayout::widgetsDoNotOverlap()
{
    QFETCH(QString, window);
    QWidget *shown = this->window(window);
    QList<QWidget *> widgets;
    for (QWidget *child : shown->findChildren<QWidget *>()) {
        if (child->isVisible() && !child->objectName().isEmpty()
            && !child->objectName().startsWith("qt_"))
            widgets.append(child);
    }
    const auto placed = [shown](QWidget *widget) {
        return QRect(widget->mapTo(shown, QPoint(0, 0)), widget->size());
    };
    for (QWidget *first : widgets) {
        for (QWidget *second : widgets) {
            if (first == second || first->isAncestorOf(second) || second->isAncestorOf(first))
                continue;
            QVERIFY2(!placed(first).intersects(placed(second)),
                qPrintable(first->objectName() + " overlaps " + second->objectName()));
        }
    }
}

void TestWindowLayout::deviceTextStaysText_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("label");
    for (const char *label :
        { "label_ip_value", "label_mac_value", "label_sn_value", "label_state" })
        QTest::addRow("update %s", label) << "update" << label;
    QTest::newRow("main label_Search_State") << "main"
                                             << "label_Search_State";
}

// A camera's address, serial number or message is shown as the characters
// it sent: markup in it is not rendered, so its tags take room of their own.
void TestWindowLayout::deviceTextStaysText()
{
    QFETCH(QString, window);
    QFETCH(QString, label);
    auto *shown = this->window(window)->findChild<QLabel *>(label);
    QVERIFY(shown);
    const QString before = shown->text();
    const QString markup = "<b>x</b>";
    shown->setText(markup);
    const int width = shown->sizeHint().width();
    shown->setText(before);
    QVERIFY(width >= shown->fontMetrics().horizontalAdvance(markup));
}

QTEST_MAIN(TestWindowLayout)
#include "tst_windowlayout.moc"
