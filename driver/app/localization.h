#pragma once
// The process-wide switch of the user-interface language. English is the
// language of the source texts; Russian comes from the compiled-in catalogue.
// GUI thread only.

#include <QObject>
#include <QString>
#include <QTranslator>

class BasePoints;
class MainWindow;
class SettingsDialog;

class Localization : public QObject
{
    Q_OBJECT

public:
    // The one object, created first thing in main() and deleted after the
    // event loop; null outside that span.
    static Localization *instance;

    Localization();
    ~Localization() override;

    // The windows retranslated after each switch; set once by the main
    // window's constructor, not owned.
    void setMainWindow(MainWindow *window);
    void setSettingsDialog(SettingsDialog *dialog);
    void setBasePoints(BasePoints *dialog);

    // "ru" installs the Russian catalogue; any other code means English.
    // Then the main window, the settings dialog and the base points dialog
    // re-apply their texts, in that order.
    void setLanguage(const QString &code);

    // The current language code: "ru" or "en".
    QString language() const { return m_language; }

private:
    QTranslator translator;
    MainWindow *m_mainWindow = nullptr;
    SettingsDialog *m_settingsDialog = nullptr;
    BasePoints *m_basePoints = nullptr;
    QString m_language = QStringLiteral("en");
};
