#include "app/Language.h"

#include "io/SettingsKeys.h"
#include "io/SettingsStore.h"
#include "widgets/Prompter.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QLibraryInfo>
#include <QMenu>
#include <QTranslator>

#include <memory>

namespace Keys = SettingsKeys;

namespace
{
/// The English translation, built from translations/kelvarin_en.ts into the
/// program's resources.
const QString EnglishTranslation = QStringLiteral(":/i18n/kelvarin_en.qm");
/// Qt's own texts (standard buttons, file dialogs), where the system has them.
const QString QtTranslationPrefix = QStringLiteral("qtbase_");

std::unique_ptr<QTranslator> g_program;
std::unique_ptr<QTranslator> g_qt;

void Remove(std::unique_ptr<QTranslator> &translator)
{
    if (translator)
        QCoreApplication::removeTranslator(translator.get());
    translator.reset();
}

bool IsKnown(const QString &language)
{
    return language == Keys::LanguageChinese || language == Keys::LanguageEnglish;
}
} // namespace

QString LanguageFromSettings(const SettingsStore &settings)
{
    const QString stored =
        settings.ReadString(Keys::SectionInterface, Keys::KeyLanguage, Keys::DefaultLanguage).trimmed();
    return stored == Keys::LanguageEnglish ? QString(Keys::LanguageEnglish) : QString(Keys::LanguageChinese);
}

bool SetLanguage(SettingsStore &settings, const QString &language)
{
    if (!IsKnown(language) || LanguageFromSettings(settings) == language)
        return false;
    settings.WriteString(Keys::SectionInterface, Keys::KeyLanguage, language);
    return true;
}

bool InstallTranslator(const QString &language)
{
    Remove(g_program);
    Remove(g_qt);
    if (language != Keys::LanguageEnglish)
        return true; // the source texts are Chinese

    auto program = std::make_unique<QTranslator>();
    if (!program->load(EnglishTranslation)) {
        qWarning("The English translation %s is missing; the windows stay Chinese.",
                 qUtf8Printable(EnglishTranslation));
        return false;
    }
    QCoreApplication::installTranslator(program.get());
    g_program = std::move(program);

    auto qt = std::make_unique<QTranslator>();
    if (qt->load(QtTranslationPrefix + language, QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(qt.get());
        g_qt = std::move(qt);
    }
    return true;
}

QString LanguageChangeNotice()
{
    return QStringLiteral("语言设置将在下次启动时生效。 / The language takes effect at the next start.");
}

QMenu *AddLanguageMenu(QMenu *menu, SettingsStore &settings, QWidget *parent)
{
    QMenu *languages = menu->addMenu(QStringLiteral("语言 / Language"));
    languages->setObjectName(QStringLiteral("mnuLanguage"));
    auto *group = new QActionGroup(languages);
    group->setExclusive(true);
    const auto add = [&](const QString &caption, const QString &objectName, QLatin1String language) {
        QAction *action = languages->addAction(caption);
        action->setObjectName(objectName);
        action->setCheckable(true);
        action->setData(QString(language));
        group->addAction(action);
    };
    add(QStringLiteral("中文"), QStringLiteral("mnuLanguageChinese"), Keys::LanguageChinese);
    add(QStringLiteral("English"), QStringLiteral("mnuLanguageEnglish"), Keys::LanguageEnglish);

    const auto showChoice = [languages, &settings] {
        const QString language = LanguageFromSettings(settings);
        for (QAction *action : languages->actions())
            action->setChecked(action->data().toString() == language);
    };
    showChoice();
    QObject::connect(languages, &QMenu::aboutToShow, languages, showChoice);
    QObject::connect(group, &QActionGroup::triggered, languages, [&settings, parent](QAction *action) {
        if (SetLanguage(settings, action->data().toString()))
            Prompts().inform(parent, LanguageChangeNotice());
    });
    return languages;
}
