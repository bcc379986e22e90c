#include "localization.h"

#include <QCoreApplication>

#include "basepoints.h"
#include "mainwindow.h"
#include "resources.h"
#include "settingsdialog.h"

Localization *Localization::instance = nullptr;

Localization::Localization()
{
    stadiolinkInitResources();
}

Localization::~Localization()
{
    // Leaves the windows alone: they are destroyed after this object.
    QCoreApplication::removeTranslator(&translator);
}

void Localization::setMainWindow(MainWindow *window)
{
    m_mainWindow = window;
}

void Localization::setSettingsDialog(SettingsDialog *dialog)
{
    m_settingsDialog = dialog;
}

void Localization::setBasePoints(BasePoints *dialog)
{
    m_basePoints = dialog;
}

void Localization::setLanguage(const QString &code)
{
    QCoreApplication::removeTranslator(&translator);
    if (code == QLatin1String("ru")) {
        // A missing catalogue leaves the program in English.
        if (translator.load(QStringLiteral(":/translations/Stadiolink_ru.qm"), QString(),
                            QString(), QString()))
            QCoreApplication::installTranslator(&translator);
        m_language = QStringLiteral("ru");
    } else {
        m_language = QStringLiteral("en");
    }

    if (m_mainWindow)
        m_mainWindow->retranslate();
    if (m_settingsDialog)
        m_settingsDialog->retranslate();
    if (m_basePoints)
        m_basePoints->retranslate();
}
