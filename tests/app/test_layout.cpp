// Main window layout: widget tree, menus, tool bar, EDM list, texts in both
// languages and the About box. Built on a plain QMainWindow, independent of
// the window's controller.

#include <QtTest>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QTranslator>

#include "entry.h"
#include "mainwindowui.h"
#include "resources.h"

namespace {
QWidget *at(QGridLayout *grid, int row, int column)
{
    QLayoutItem *item = grid->itemAtPosition(row, column);
    return item ? item->widget() : nullptr;
}
} // namespace

class TestLayout : public QObject
{
    Q_OBJECT

    QTranslator russian;

    struct Window {
        QMainWindow main;
        MainWindowUi ui;
        Window() { ui.setupUi(&main); ui.retranslate(&main); }
    };

    void russianOn() { QCoreApplication::installTranslator(&russian); }
    void russianOff() { QCoreApplication::removeTranslator(&russian); }

private slots:
    void initTestCase()
    {
        stadiolinkInitResources();
        QVERIFY(russian.load(QStringLiteral(":/translations/Stadiolink_ru.qm")));
    }
    void cleanup() { russianOff(); }

    void iconsAreCompiledIn()
    {
        for (const char *path : {":/images/connect.ico", ":/images/disconnect.ico",
                                 ":/images/settings.ico", ":/images/laser on.ico",
                                 ":/images/laser off.ico", ":/images/up.png", ":/images/down.png",
                                 ":/images/left.png", ":/images/right.png",
                                 ":/images/application-exit.png"}) {
            const QImage img(QString::fromLatin1(path));
            QVERIFY2(!img.isNull(), path);
            QCOMPARE(img.size(), QSize(32, 32));
        }
        Window w;
        QVERIFY(!w.ui.actionConnect->icon().isNull());
        QVERIFY(!w.ui.upButton->icon().isNull());
        QVERIFY(w.ui.upButton->text().isEmpty());
    }

    void groupsAndGridsHoldTheirWidgets()
    {
        Window w;
        MainWindowUi &ui = w.ui;
        QCOMPARE(w.main.centralWidget(), ui.centralWidget);
        auto *box = qobject_cast<QVBoxLayout *>(ui.centralWidget->layout());
        QVERIFY(box);
        QCOMPARE(box->count(), 4);
        QCOMPARE(box->itemAt(0)->widget(), ui.sessionGroup);
        QCOMPARE(box->itemAt(1)->widget(), ui.deviceGroup);
        QCOMPARE(box->itemAt(2)->widget(), ui.logPane);
        QCOMPARE(box->itemAt(3)->widget(), ui.serverStatusLabel);

        QGridLayout *g = ui.sessionGrid;
        QCOMPARE(at(g, 0, 1), ui.sessionEdit);
        QCOMPARE(at(g, 0, 2), ui.autoButton);
        QCOMPARE(at(g, 1, 1), ui.groupEdit);
        QCOMPARE(at(g, 1, 2), ui.captureButton);
        QCOMPARE(at(g, 2, 1), ui.pointNameEdit);
        QCOMPARE(at(g, 3, 1), ui.deviceNameEdit);
        QCOMPARE(at(g, 3, 0), ui.deviceNameLabel);
        QVERIFY(ui.captureButton->isCheckable());
        QVERIFY(!ui.captureButton->isChecked());

        QGridLayout *d = ui.deviceGrid;
        QCOMPARE(at(d, 0, 1), ui.xEdit);
        QCOMPARE(at(d, 1, 1), ui.yEdit);
        QCOMPARE(at(d, 2, 1), ui.zEdit);
        QCOMPARE(at(d, 0, 4), ui.speedSlider);
        QVERIFY(ui.xEdit->isReadOnly() && ui.yEdit->isReadOnly() && ui.zEdit->isReadOnly());
        QCOMPARE(ui.xLabel->text(), QStringLiteral("Hz:"));
        QCOMPARE(ui.zUnitLabel->text(), QStringLiteral("m"));

        QGridLayout *a = ui.arrowGrid;
        QCOMPARE(at(a, 0, 1), ui.upButton);
        QCOMPARE(at(a, 1, 0), ui.leftButton);
        QCOMPARE(at(a, 1, 2), ui.rightButton);
        QCOMPARE(at(a, 2, 1), ui.downButton);

        QCOMPARE(ui.speedSlider->orientation(), Qt::Vertical);
        QCOMPARE(ui.speedSlider->minimum(), 1);
        QCOMPARE(ui.speedSlider->maximum(), 79);
        QCOMPARE(ui.speedSlider->value(), 1);
        QCOMPARE(ui.speedSlider->focusPolicy(), Qt::NoFocus);
        QCOMPARE(ui.speedValueLabel->text(), QStringLiteral("0.01"));

        QVERIFY(ui.logPane->isReadOnly());
        QVERIFY(ui.serverStatusLabel->alignment() & Qt::AlignRight);
        QVERIFY(ui.sessionGroup->styleSheet().startsWith(QLatin1String("QGroupBox {")));
        QCOMPARE(ui.deviceGroup->styleSheet(), ui.sessionGroup->styleSheet());
        QVERIFY(ui.upButton->styleSheet().contains(QLatin1String("padding-top: 2px;")));
        QVERIFY(ui.downButton->styleSheet().contains(QLatin1String("padding-bottom: 2px;")));
    }

    void menusAndToolBarHoldTheActionsInOrder()
    {
        Window w;
        MainWindowUi &ui = w.ui;
        const QList<QAction *> bar = ui.menuBar->actions();
        QCOMPARE(bar.size(), 3);
        QCOMPARE(bar.at(0)->menu(), ui.connectionMenu);
        QCOMPARE(bar.at(1)->menu(), ui.settingsMenu);
        QCOMPARE(bar.at(2)->menu(), ui.helpMenu);

        const QList<QAction *> conn = ui.connectionMenu->actions();
        QCOMPARE(conn.size(), 6);
        QCOMPARE(conn.at(0), ui.actionConnect);
        QCOMPARE(conn.at(1), ui.actionReconnect);
        QCOMPARE(conn.at(2), ui.actionDisconnect);
        QCOMPARE(conn.at(3), ui.actionSendUnsent);
        QVERIFY(conn.at(4)->isSeparator());
        QCOMPARE(conn.at(5), ui.actionExit);

        const QList<QAction *> settings = ui.settingsMenu->actions();
        QCOMPARE(settings.size(), 2);
        QCOMPARE(settings.at(0), ui.actionSettings);
        QCOMPARE(settings.at(1)->menu(), ui.languageMenu);
        QCOMPARE(ui.languageMenu->actions(),
                 QList<QAction *>({ui.actionLanguageRu, ui.actionLanguageEn}));
        QCOMPARE(ui.helpMenu->actions(), QList<QAction *>({ui.actionAbout}));

        QCOMPARE(ui.toolBar->actions(),
                 QList<QAction *>({ui.actionConnect, ui.actionDisconnect, ui.actionSettings,
                                   ui.actionLaser}));
        QCOMPARE(w.main.toolBarArea(ui.toolBar), Qt::TopToolBarArea);

        for (QMenu *m : {ui.connectionMenu, ui.settingsMenu, ui.helpMenu})
            QVERIFY(m->windowFlags() & Qt::NoDropShadowWindowHint);
        for (QAction *a : {ui.actionConnect, ui.actionDisconnect, ui.actionExit,
                           ui.actionSettings, ui.actionLaser, ui.actionAbout})
            QVERIFY(!a->isCheckable() && a->shortcut().isEmpty());
    }

    void tabOrderFollowsTheFields()
    {
        Window w;
        MainWindowUi &ui = w.ui;
        const QList<QWidget *> order = {ui.sessionEdit, ui.groupEdit, ui.pointNameEdit,
                                        ui.xEdit, ui.yEdit, ui.zEdit, ui.logPane,
                                        ui.upButton, ui.leftButton, ui.rightButton,
                                        ui.downButton, ui.speedSlider, ui.measButton,
                                        ui.trackingButton, ui.autoButton, ui.captureButton,
                                        ui.edmModeCombo};
        // Positions along the focus chain (which also holds inner widgets
        // such as scroll bars) must rise in the order above.
        QList<QWidget *> chain;
        QWidget *wgt = order.first();
        do {
            chain << wgt;
            wgt = wgt->nextInFocusChain();
        } while (wgt && wgt != order.first() && chain.size() < 1000);
        int last = -1;
        for (QWidget *field : order) {
            if (field->focusPolicy() == Qt::NoFocus)   // the slider
                continue;
            const int pos = chain.indexOf(field);
            QVERIFY2(pos > last, qPrintable(field->objectName()));
            last = pos;
        }
    }

    void edmListHasFourteenModesWithIrStandardSelected()
    {
        Window w;
        QComboBox *edm = w.ui.edmModeCombo;
        QCOMPARE(edm->count(), MainWindowUi::edmModeCount);
        for (int i = 0; i < edm->count(); ++i)
            QCOMPARE(edm->itemData(i).toInt(), i + 1);
        QCOMPARE(edm->itemText(0), QStringLiteral("IR Standard Reflector Tape"));
        QCOMPARE(edm->itemText(6), QStringLiteral("IR Tacking"));
        QCOMPARE(edm->itemText(13), QStringLiteral("IR Precise Reflector Tape"));
        QCOMPARE(edm->currentIndex(), 1);
        QCOMPARE(edm->maxVisibleItems(), 5);
    }

    void languageSwitchKeepsEdmEntryWithoutSignals()
    {
        Window w;
        QComboBox *edm = w.ui.edmModeCombo;
        edm->setCurrentIndex(2);   // "IR Fast"
        QSignalSpy activated(edm, QOverload<int>::of(&QComboBox::activated));
        QSignalSpy changed(edm, QOverload<int>::of(&QComboBox::currentIndexChanged));

        russianOn();
        w.ui.retranslate(&w.main);
        QCOMPARE(edm->currentIndex(), 2);
        QCOMPARE(edm->currentText(), QStringLiteral("Быстрый"));
        QCOMPARE(edm->currentData().toInt(), 3);
        QCOMPARE(edm->count(), MainWindowUi::edmModeCount);
        QCOMPARE(edm->maxVisibleItems(), 5);

        russianOff();
        w.ui.retranslate(&w.main);
        QCOMPARE(edm->currentText(), QStringLiteral("IR Fast"));
        QCOMPARE(activated.count(), 0);
        QCOMPARE(changed.count(), 0);
    }

    void textsInBothLanguages()
    {
        Window w;
        MainWindowUi &ui = w.ui;
        QCOMPARE(w.main.windowTitle(), QStringLiteral("Stadiolink Driver"));
        QCOMPARE(ui.actionSettings->text(), QStringLiteral("Settings COM"));
        QCOMPARE(ui.actionConnect->toolTip(),
                 QStringLiteral("Connect to the serial port and to the server"));
        QCOMPARE(ui.actionAbout->toolTip(), QStringLiteral("About the program"));
        QCOMPARE(ui.connectionMenu->title(), QStringLiteral("Connection"));
        QCOMPARE(ui.sessionGroup->title(), QStringLiteral("Session and Measurement Management"));
        QCOMPARE(ui.actionLanguageRu->text(), QStringLiteral("Русский"));
        QCOMPARE(ui.actionLanguageEn->text(), QStringLiteral("English"));

        russianOn();
        ui.retranslate(&w.main);
        QCOMPARE(w.main.windowTitle(), QStringLiteral("Драйвер Stadiolink"));
        QCOMPARE(ui.deviceNameLabel->text(), QStringLiteral("Имя девайса:"));
        QCOMPARE(ui.xUnitLabel->text(), QStringLiteral("град"));
        QCOMPARE(ui.zLabel->text(), QStringLiteral("Накл.:"));
        QCOMPARE(ui.zLabel->toolTip(), QStringLiteral("Наклонное расстояние последнего измерения"));
        QCOMPARE(ui.speedUnitLabel->text(), QStringLiteral("рад/с"));
        // Only the first word of the Settings action is translated.
        QCOMPARE(ui.actionSettings->text(), QStringLiteral("Настройки COM"));
        QCOMPARE(ui.settingsMenu->title(), QStringLiteral("Настройки"));
        QCOMPARE(ui.actionLanguageRu->text(), QStringLiteral("Русский"));
        QCOMPARE(ui.actionLanguageEn->text(), QStringLiteral("English"));
        QCOMPARE(ui.xLabel->text(), QStringLiteral("Hz:"));
    }

    void readOutsShowDashesWithoutALinkAndLinkValuesWithOne()
    {
        Window w;
        MainWindowUi &ui = w.ui;
        QCOMPARE(ui.temperatureLabel->text(), QStringLiteral("Device temperature: - °C"));
        QCOMPARE(ui.serialNumberLabel->text(), QStringLiteral("Serial number: -"));
        QCOMPARE(ui.deviceInfoLabel->text(), QStringLiteral("Device Name: -"));

        russianOn();
        ui.retranslate(&w.main);
        QCOMPARE(ui.temperatureLabel->text(), QStringLiteral("Температура девайса: - °C"));
        QCOMPARE(ui.serialNumberLabel->text(), QStringLiteral("Серийный номер: -"));
        QCOMPARE(ui.deviceInfoLabel->text(), QStringLiteral("Имя девайса: -"));

        // With a link: serial and name from the instrument, temperature kept.
        ui.temperatureLabel->setText(QStringLiteral("Температура девайса: 21.250 °C"));
        russianOff();
        ui.retranslate(&w.main, true, 1234567, QStringLiteral("TS16 R500"));
        QCOMPARE(ui.serialNumberLabel->text(), QStringLiteral("Serial number: 1234567"));
        QCOMPARE(ui.deviceInfoLabel->text(), QStringLiteral("Device Name: TS16 R500"));
        QCOMPARE(ui.temperatureLabel->text(), QStringLiteral("Температура девайса: 21.250 °C"));
    }

    void laserTextFollowsTheStateAcrossLanguages()
    {
        Window w;
        QCOMPARE(w.ui.actionLaser->text(), QStringLiteral("The laser is off"));
        russianOn();
        w.ui.retranslate(&w.main, false, 0, QString(), true);
        QCOMPARE(w.ui.actionLaser->text(), QStringLiteral("Лазер включён"));
        russianOff();
        w.ui.retranslate(&w.main, false, 0, QString(), true);
        QCOMPARE(w.ui.actionLaser->text(), QStringLiteral("The laser is on"));
        // Capture and Tracking are reset to their idle texts whatever their state.
        w.ui.captureButton->setChecked(true);
        w.ui.captureButton->setText(QStringLiteral("To free"));
        w.ui.retranslate(&w.main);
        QCOMPARE(w.ui.captureButton->text(), QStringLiteral("Capture"));
        QVERIFY(w.ui.captureButton->isChecked());
    }

    void aboutBoxShowsTitleAndText()
    {
        QMainWindow parent;
        QString title, text;
        QWidget *boxParent = nullptr;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            title = box->windowTitle();
            text = box->text();
            boxParent = box->parentWidget();
            box->accept();
        });
        showAboutBox(&parent);
        QCOMPARE(title, QStringLiteral("About the program"));
        QCOMPARE(text, QStringLiteral("To work with the Leica total station and transfer data to Velmora\n\n")
                           + CommandLine::versionText().trimmed());
        QCOMPARE(boxParent, &parent);
    }
};

QTEST_MAIN(TestLayout)
#include "test_layout.moc"
