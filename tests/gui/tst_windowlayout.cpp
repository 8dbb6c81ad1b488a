#include "form.h"
#include "mainwindow.h"

#include <QAbstractItemView>
#include <QHeaderView>
#include <QScreen>
#include <QTableView>
#include <QtTest>

// The main window and the update window as designed: the values that only
// their .ui files and set-up decide, one row of them per widget. What the
// windows do is tested with each window.
class TestWindowLayout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void laysOutWidgetsAsDesigned_data();
    void laysOutWidgetsAsDesigned();

private:
    static QVariant designedValue(const QWidget *widget, const QString &property);

    MainWindow mainWindow;
    Form updateWindow { "192.0.2.10", "00:1A:2B:3C:4D:5E", "<b>SN-1</b>" };
};

void TestWindowLayout::initTestCase()
{
    for (QWidget *window : std::initializer_list<QWidget *> { &mainWindow, &updateWindow }) {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
    }
}

void TestWindowLayout::laysOutWidgetsAsDesigned_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("object");
    QTest::addColumn<QVariantMap>("expected");
    const auto row = [](const char *window, const char *object, const QVariantMap &expected) {
        QTest::addRow("%s %s", window, object) << window << object << expected;
    };
    // Both windows open at their one size in the middle of the desktop, which
    // spans every screen; an update window goes away on closing and never
    // keeps the tool up.
    const auto fixedAndCentred = [](QSize size) {
        const QSize screen = QGuiApplication::primaryScreen()->virtualGeometry().size();
        return QVariantMap { { "size", size }, { "minimumSize", size }, { "maximumSize", size },
            { "pos",
                QPoint(
                    (screen.width() - size.width()) / 2, (screen.height() - size.height()) / 2) },
            { "maximizeButton", false } };
    };
    QVariantMap main = fixedAndCentred(QSize(1025, 496));
    main.insert({ { "windowTitle", "Ordel_Toolkits  V1.0.0.0" }, { "deleteOnClose", false },
        { "quitOnClose", true } });
    row("main", "MainWindow", main);
    row("main", "tableView",
        { { "geometry", QRect(10, 40, 866, 400) }, { "pointSize", 9 },
            { "defaultSectionSize", 120 }, { "contextMenuPolicy", Qt::CustomContextMenu },
            { "verticalScrollMode", QAbstractItemView::ScrollPerPixel },
            { "horizontalScrollMode", QAbstractItemView::ScrollPerPixel } });
    row("main", "pushButton_Search_Device",
        { { "text", "Search Device" }, { "geometry", QRect(890, 40, 121, 61) },
            { "pointSize", 10 } });
    // A status line or a camera's own text is shown as it is, never as markup.
    row("main", "label_Search_State", { { "textFormat", Qt::PlainText } });

    QVariantMap update = fixedAndCentred(QSize(461, 300));
    update.insert(
        { { "windowTitle", "Form" }, { "deleteOnClose", true }, { "quitOnClose", false } });
    row("update", "Form", update);
    row("update", "label", { { "text", QStringLiteral("IP\uFF1A") } });
    row("update", "label_4", { { "text", QStringLiteral("MAC\uFF1A") } });
    row("update", "label_6", { { "text", QStringLiteral("SN\uFF1A") } });
    row("update", "label_ip_value", { { "text", "192.0.2.10" }, { "textFormat", Qt::PlainText } });
    row("update", "label_mac_value",
        { { "text", "00:1A:2B:3C:4D:5E" }, { "textFormat", Qt::PlainText } });
    row("update", "label_sn_value", { { "text", "<b>SN-1</b>" }, { "textFormat", Qt::PlainText } });
    row("update", "pushButton_Browser", { { "text", "Browser" } });
    row("update", "pushButton_Start", { { "text", "Start" }, { "pointSize", 9 } });
    row("update", "progressBar", { { "geometry", QRect(5, 240, 461, 23) }, { "value", 0 } });
    row("update", "label_state",
        { { "geometry", QRect(10, 280, 421, 16) }, { "text", "" },
            { "textFormat", Qt::PlainText } });
    row("update", "lineEdit", { { "focusPolicy", Qt::NoFocus } });
}

void TestWindowLayout::laysOutWidgetsAsDesigned()
{
    QFETCH(QString, window);
    QFETCH(QString, object);
    QFETCH(QVariantMap, expected);
    const QWidget *shown = window == "main" ? static_cast<QWidget *>(&mainWindow) : &updateWindow;
    const QWidget *widget
        = shown->objectName() == object ? shown : shown->findChild<QWidget *>(object);
    QVERIFY(widget);
    for (const QString &property : expected.keys()) {
        const QVariant value = designedValue(widget, property);
        QString difference;
        QDebug(&difference) << property << "is" << value << "instead of" << expected[property];
        QVERIFY2(value == expected[property], qPrintable(difference));
    }
}

// A Qt property of the widget, or a designed value Qt keeps elsewhere.
QVariant TestWindowLayout::designedValue(const QWidget *widget, const QString &property)
{
    if (property == "pointSize")
        return widget->font().pointSize();
    if (property == "defaultSectionSize")
        return static_cast<const QTableView *>(widget)->horizontalHeader()->defaultSectionSize();
    if (property == "maximizeButton")
        return widget->windowFlags().testFlag(Qt::WindowMaximizeButtonHint);
    if (property == "deleteOnClose")
        return widget->testAttribute(Qt::WA_DeleteOnClose);
    if (property == "quitOnClose")
        return widget->testAttribute(Qt::WA_QuitOnClose);
    const QMetaObject *meta = widget->metaObject();
    const QMetaProperty metaProperty = meta->property(meta->indexOfProperty(property.toLatin1()));
    const QVariant value = metaProperty.read(widget);
    // An enumeration compares as its number: the table holds plain numbers.
    return metaProperty.isEnumType() ? QVariant(value.toInt()) : value;
}

QTEST_MAIN(TestWindowLayout)
#include "tst_windowlayout.moc"
