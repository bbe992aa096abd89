// The English translation: every window in English shows no Chinese text, the
// Chinese windows keep their captions, the language choice in "Data.ini", and
// the translation file in the repository covers every text of the sources.

#include "ScriptedPrompter.h"
#include "app/AppWindows.h"
#include "app/Language.h"
#include "app/MainUnit.h"
#include "calibration/CalibrateUnit.h"
#include "chart/ChartWidget.h"
#include "io/SettingsKeys.h"
#include "io/SettingsStore.h"
#include "parameters/ParamUnit.h"
#include "parameters/ParameterCatalogue.h"
#include "settings/SystemParamsUnit.h"
#include "ui_MainUnit.h"
#include "ui_ParamUnit.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QDirIterator>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QXmlStreamReader>

#include <algorithm>
#include <memory>

namespace Keys = SettingsKeys;

namespace
{
/// CJK ideographs and punctuation, full-width forms.
bool HasChinese(const QString &text)
{
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if ((u >= 0x3000 && u <= 0x9FFF) || (u >= 0xFF00 && u <= 0xFFEF))
            return true;
    }
    return false;
}

/// The language submenu names each language in itself, in every language.
bool InLanguageMenu(const QObject *object)
{
    for (; object; object = object->parent())
        if (object->objectName().startsWith(QLatin1String("mnuLanguage")))
            return true;
    return false;
}

/// Every text the operator can read on `root` and the objects below it, as
/// "objectName: text".
QStringList ReadableTexts(QWidget *root)
{
    QStringList texts;
    QList<QObject *> objects{root};
    objects += root->findChildren<QObject *>();
    for (QObject *object : objects) {
        if (InLanguageMenu(object))
            continue;
        const auto add = [&](const QString &text) {
            if (!text.isEmpty())
                texts << object->objectName() + QStringLiteral(": ") + text;
        };
        if (auto *w = qobject_cast<QWidget *>(object)) {
            add(w->windowTitle());
            add(w->toolTip());
            add(w->statusTip());
            add(w->whatsThis());
        }
        if (auto *label = qobject_cast<QLabel *>(object))
            add(label->text());
        if (auto *button = qobject_cast<QAbstractButton *>(object))
            add(button->text());
        if (auto *group = qobject_cast<QGroupBox *>(object))
            add(group->title());
        if (auto *menu = qobject_cast<QMenu *>(object))
            add(menu->title());
        if (auto *tabs = qobject_cast<QTabWidget *>(object))
            for (int i = 0; i < tabs->count(); ++i) {
                add(tabs->tabText(i));
                add(tabs->tabToolTip(i));
            }
        if (auto *box = qobject_cast<QComboBox *>(object))
            for (int i = 0; i < box->count(); ++i)
                add(box->itemText(i));
        if (auto *edit = qobject_cast<QLineEdit *>(object)) {
            add(edit->text());
            add(edit->placeholderText());
        }
        if (auto *spin = qobject_cast<QSpinBox *>(object)) {
            add(spin->prefix());
            add(spin->suffix());
        }
        if (auto *spin = qobject_cast<QAbstractSpinBox *>(object))
            add(spin->specialValueText());
        if (auto *progress = qobject_cast<QProgressBar *>(object))
            add(progress->format());
        // Lists, trees and tables: their headers and top-level rows.
        if (auto *view = qobject_cast<QAbstractItemView *>(object); view && view->model()) {
            const QAbstractItemModel *model = view->model();
            for (int c = 0; c < model->columnCount(); ++c) {
                add(model->headerData(c, Qt::Horizontal).toString());
                add(model->headerData(c, Qt::Horizontal, Qt::ToolTipRole).toString());
                for (int r = 0; r < model->rowCount(); ++r) {
                    add(model->index(r, c).data().toString());
                    add(model->index(r, c).data(Qt::ToolTipRole).toString());
                }
            }
        }
        if (auto *action = qobject_cast<QAction *>(object)) {
            add(action->text());
            add(action->toolTip());
            add(action->statusTip());
            add(action->iconText());
        }
    }
    return texts;
}

QString FindFile(const char *relative)
{
    // Relative to this source file: the repository's tree.
    return QFINDTESTDATA(relative);
}

struct TsEntry {
    QString context;
    QString source;
    QString translation;
    QString type; ///< "unfinished", "obsolete", "vanished" or empty
};

QList<TsEntry> ReadTs(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<TsEntry> entries;
    QXmlStreamReader xml(&file);
    QString context;
    TsEntry entry;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("name"))
            context = xml.readElementText();
        else if (xml.name() == QLatin1String("message"))
            entry = TsEntry{context, {}, {}, {}};
        else if (xml.name() == QLatin1String("source"))
            entry.source = xml.readElementText();
        else if (xml.name() == QLatin1String("translation")) {
            entry.type = xml.attributes().value(QLatin1String("type")).toString();
            entry.translation = xml.readElementText();
            entries << entry;
        }
    }
    return xml.hasError() ? QList<TsEntry>{} : entries;
}

struct Literal {
    QString text;
    bool translated; ///< the source text of tr(), translate() or a QT_TR*_NOOP()
};

/// Whether the code before a string literal makes it a source text.
bool OpensTranslation(const QString &before)
{
    static const QRegularExpression call(
        QStringLiteral(R"((\btr|\bQT_TR_NOOP|\btranslate|\bQT_TRANSLATE_NOOP)\s*\(\s*("[^"]*"\s*,\s*)?$)"));
    return call.match(before).hasMatch();
}

/// The string literals of a C++ source, comments left out, escapes resolved,
/// adjacent literals joined as the compiler joins them.
QList<Literal> StringLiterals(const QString &code)
{
    QList<Literal> literals;
    bool joinNext = false;
    for (qsizetype i = 0; i < code.size(); ++i) {
        const QChar c = code.at(i);
        if (c.isSpace())
            continue;
        const bool joining = joinNext;
        joinNext = false;
        if (c == QLatin1Char('/') && i + 1 < code.size() && code.at(i + 1) == QLatin1Char('/')) {
            joinNext = joining;
            i = code.indexOf(QLatin1Char('\n'), i);
            if (i < 0)
                break;
        } else if (c == QLatin1Char('/') && i + 1 < code.size() && code.at(i + 1) == QLatin1Char('*')) {
            joinNext = joining;
            i = code.indexOf(QLatin1String("*/"), i + 2);
            if (i < 0)
                break;
            ++i;
        } else if (c == QLatin1Char('\'')) {
            // A character literal ('"' among them); digit separators have no closing quote nearby.
            if (i + 2 < code.size() && code.at(i + 1) == QLatin1Char('\\'))
                i += 3;
            else if (i + 2 < code.size() && code.at(i + 2) == QLatin1Char('\''))
                i += 2;
        } else if (c == QLatin1Char('"')) {
            constexpr qsizetype Lookback = 120;
            const qsizetype from = std::max<qsizetype>(0, i - Lookback);
            const bool translated = !joining && OpensTranslation(code.mid(from, i - from));
            QString literal;
            for (++i; i < code.size() && code.at(i) != QLatin1Char('"'); ++i) {
                if (code.at(i) == QLatin1Char('\\') && i + 1 < code.size()) {
                    const QChar e = code.at(++i);
                    literal += e == QLatin1Char('n')   ? QChar(QLatin1Char('\n'))
                               : e == QLatin1Char('t') ? QChar(QLatin1Char('\t'))
                                                       : e;
                } else {
                    literal += code.at(i);
                }
            }
            if (joining)
                literals.last().text += literal;
            else
                literals << Literal{literal, translated};
            joinNext = true;
        }
    }
    return literals;
}

/// Texts that stay as they are in every language: the language submenu and
/// the notice after a choice, which name both languages.
const QStringList Bilingual{QStringLiteral("语言 / Language"), QStringLiteral("中文"),
                            LanguageChangeNotice()};

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

class TestTranslation : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { InstallTranslator(Keys::LanguageChinese); }
    void englishWindowsShowNoChineseText();
    void chineseWindowsUnchanged();
    void languageChoiceStoredInDataIni();
    void translationFileCoversEverySourceText();
};

void TestTranslation::englishWindowsShowNoChineseText()
{
    QTemporaryDir dir;
    WriteFile(dir.filePath(Keys::FileName), "[Interface]\r\nLanguage=en\r\n");
    AppWindows windows(dir.path());
    QMenu menu; // the main window's context menu gets the language submenu
    AddLanguageMenu(&menu, windows.settings(), windows.main());
    windows.main()->show();

    // The main window and its dialogs (seven at least).
    QVERIFY(windows.main()->findChildren<QDialog *>(Qt::FindDirectChildrenOnly).size() >= 7);
    const QStringList texts = ReadableTexts(windows.main()) + ReadableTexts(&menu);
    QVERIFY(texts.size() > 150);
    QStringList chinese;
    for (const QString &text : texts)
        if (HasChinese(text))
            chinese << text;
    for (const QString &text : chinese) // all of them: a failure message is cut short
        qWarning().noquote() << text;
    QVERIFY2(chinese.isEmpty(), qPrintable(chinese.join(QLatin1Char('\n'))));

    // The longer English parameter names are not cut off in the list.
    QTreeWidget *names = windows.parameters().param->lvParam();
    const int needed = static_cast<QAbstractItemView *>(names)->sizeHintForColumn(TfrmParam::NameColumn);
    QVERIFY2(names->columnWidth(TfrmParam::NameColumn) >= needed, qPrintable(QString::number(needed)));

    // Examples the translation must give.
    QCOMPARE(windows.main()->ui()->btnBeginRead->text(), QStringLiteral("Start &reading"));
    QCOMPARE(QCoreApplication::translate("TfrmMain", "读取超时！"), QStringLiteral("Read timed out!"));
    QCOMPARE(QCoreApplication::translate("TfrmCalibrate", "标定中..."), QStringLiteral("Calibrating..."));
    // Data stays as it is: the value display's unit and the status panel.
    QCOMPARE(windows.main()->ValueText(), QStringLiteral("0.0kg"));
    // The language submenu offers both languages in their own names.
    const QMenu *languages = menu.findChild<QMenu *>(QStringLiteral("mnuLanguage"));
    QVERIFY(languages);
    QCOMPARE(languages->title(), QStringLiteral("语言 / Language"));
    QCOMPARE(languages->actions().size(), 2);
    QCOMPARE(languages->actions().at(0)->text(), QStringLiteral("中文"));
    QCOMPARE(languages->actions().at(1)->text(), QStringLiteral("English"));
    QVERIFY(languages->actions().at(1)->isChecked());
}

void TestTranslation::chineseWindowsUnchanged()
{
    // An English run before leaves nothing behind: a file without the
    // language (older versions) gives the Chinese windows.
    InstallTranslator(Keys::LanguageEnglish);
    QTemporaryDir dir;
    const QByteArray older = "[System Parameters]\r\nBaud=19200\r\n";
    WriteFile(dir.filePath(Keys::FileName), older);
    AppWindows windows(dir.path());
    QCOMPARE(LanguageFromSettings(windows.settings()), QString(Keys::LanguageChinese));

    TfrmMain *main = windows.main();
    QCOMPARE(main->windowTitle(), QStringLiteral("智能变送器数据采集软件 V140208"));
    QCOMPARE(main->ui()->btnOpen->text(), QStringLiteral("打开串口(&O)"));
    QCOMPARE(main->ui()->btnBeginRead->text(), QStringLiteral("开始读数(&B)"));
    QCOMPARE(main->ui()->ckbViewMarker->text(), QStringLiteral("显示数据点(&V)"));
    QCOMPARE(main->ui()->F1->text(), QStringLiteral("窗口总在最前面(&F)"));
    QCOMPARE(main->chart()->action(ChartWidget::Action::ZoomIn)->text(), QStringLiteral("放大"));
    QCOMPARE(windows.calibrate()->windowTitle(), QStringLiteral("正在标定"));
    QCOMPARE(windows.systemParams()->windowTitle(), QStringLiteral("显示参数"));
    const QTreeWidget *list = windows.parameters().param->lvParam();
    QCOMPARE(list->headerItem()->text(0), QStringLiteral("参数名称"));
    QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("设备编号(DN)"));
    QCOMPARE(ParameterCatalogue::Name(3), QStringLiteral("标定点1输入值(AVP1)"));
    QCOMPARE(QCoreApplication::translate("ModuleSession", "读取超时！"), QStringLiteral("读取超时！"));
    // Reading the choice writes nothing: the file keeps its sections.
    const QByteArray after = ReadFile(dir.filePath(Keys::FileName));
    QVERIFY(after.startsWith(older));
    QVERIFY(!after.contains("Interface") && !after.contains("Language"));
}

void TestTranslation::languageChoiceStoredInDataIni()
{
    QTemporaryDir dir;
    const QString ini = dir.filePath(Keys::FileName);
    WriteFile(ini, "[System Parameters]\r\nBaud=19200\r\n");
    ScriptedPrompter prompts;
    SettingsStore settings(ini);
    QWidget parent;
    QMenu menu;
    QMenu *languages = AddLanguageMenu(&menu, settings, &parent);
    QAction *chinese = languages->findChild<QAction *>(QStringLiteral("mnuLanguageChinese"));
    QAction *english = languages->findChild<QAction *>(QStringLiteral("mnuLanguageEnglish"));
    QVERIFY(chinese && english);
    QVERIFY(chinese->isChecked() && !english->isChecked());

    // Choosing the current language changes nothing and tells nothing.
    chinese->trigger();
    QVERIFY(prompts.messages.isEmpty());
    QCOMPARE(ReadFile(ini), QByteArray("[System Parameters]\r\nBaud=19200\r\n"));

    english->trigger();
    QVERIFY(english->isChecked() && !chinese->isChecked());
    // A new section and key; what the file held stays.
    const QByteArray written = ReadFile(ini);
    QVERIFY2(written.startsWith("[System Parameters]\r\nBaud=19200\r\n"), written.constData());
    QVERIFY2(written.contains("\r\n[Interface]\r\nLanguage=en\r\n"), written.constData());
    QCOMPARE(prompts.messages.size(), 1);
    QVERIFY(prompts.messages.at(0).contains(QStringLiteral("下次启动")));
    QVERIFY(prompts.messages.at(0).contains(QStringLiteral("next start")));
    QCOMPARE(LanguageFromSettings(SettingsStore(ini)), QString(Keys::LanguageEnglish));
    // It takes effect at the next start: the running program stays Chinese.
    QCOMPARE(QCoreApplication::translate("ModuleSession", "读取超时！"), QStringLiteral("读取超时！"));

    // The check follows the file (changed by another program meanwhile).
    SettingsStore(ini).WriteString(Keys::SectionInterface, Keys::KeyLanguage, QStringLiteral("zh_CN"));
    emit languages->aboutToShow();
    QVERIFY(chinese->isChecked() && !english->isChecked());

    // Only the two languages are stored; anything else reads as Chinese.
    QVERIFY(!SetLanguage(settings, QStringLiteral("fr")));
    SettingsStore(ini).WriteString(Keys::SectionInterface, Keys::KeyLanguage, QStringLiteral("fr"));
    QCOMPARE(LanguageFromSettings(SettingsStore(ini)), QString(Keys::LanguageChinese));
}

void TestTranslation::translationFileCoversEverySourceText()
{
    const QString tsPath = FindFile("../translations/kelvarin_en.ts");
    QVERIFY2(!tsPath.isEmpty(), "translations/kelvarin_en.ts not found");
    const QList<TsEntry> entries = ReadTs(tsPath);
    QVERIFY(!entries.isEmpty());

    QVERIFY(InstallTranslator(Keys::LanguageEnglish));
    QSet<QString> sources;
    for (const TsEntry &e : entries) {
        const QString where = e.context + QStringLiteral(": ") + e.source;
        sources << e.source;
        QVERIFY2(e.type.isEmpty(), qPrintable(e.type + QStringLiteral(" entry ") + where));
        QVERIFY2(!e.translation.isEmpty() && !HasChinese(e.translation), qPrintable(where));
        // Placeholders and accelerators survive the translation.
        for (const QString &arg : {QStringLiteral("%1"), QStringLiteral("%2")})
            QVERIFY2(e.source.contains(arg) == e.translation.contains(arg), qPrintable(where));
        QVERIFY2(e.source.count(QLatin1Char('&')) == e.translation.count(QLatin1Char('&')),
                 qPrintable(where));
        // The program carries this very translation.
        QCOMPARE(QCoreApplication::translate(qPrintable(e.context), qPrintable(e.source)), e.translation);
    }
    // Data is never translated.
    for (const QString &data :
         {QStringLiteral("Error Loading Data - "), QStringLiteral("Error Saving Data - "),
          QStringLiteral("Kelvarin"), QStringLiteral("Channel 1"), QString(Keys::SectionSystemParameters)})
        QVERIFY2(!sources.contains(data), qPrintable(data));

    // Every Chinese text of the sources and forms is a source text, and the
    // translation has it.
    const QString srcDir =
        QFileInfo(FindFile("../src/app/Language.cpp")).absolutePath() + QStringLiteral("/..");
    QDirIterator it(srcDir, {QStringLiteral("*.cpp"), QStringLiteral("*.h"), QStringLiteral("*.ui")},
                    QDir::Files, QDirIterator::Subdirectories);
    int files = 0;
    QStringList missing;
    while (it.hasNext()) {
        const QString path = it.next();
        ++files;
        const QString text = QString::fromUtf8(ReadFile(path));
        QList<Literal> texts;
        if (path.endsWith(QLatin1String(".ui"))) {
            // uic translates every string not marked notr.
            QXmlStreamReader xml(text);
            while (!xml.atEnd()) {
                if (xml.readNext() == QXmlStreamReader::StartElement &&
                    xml.name() == QLatin1String("string")) {
                    const bool translated =
                        xml.attributes().value(QLatin1String("notr")) != QLatin1String("true");
                    texts << Literal{xml.readElementText(), translated};
                }
            }
        } else {
            texts = StringLiterals(text);
        }
        for (const Literal &literal : texts) {
            if (!HasChinese(literal.text) || Bilingual.contains(literal.text))
                continue;
            if (!literal.translated)
                missing << QFileInfo(path).fileName() + QStringLiteral(": not translated: ") + literal.text;
            else if (!sources.contains(literal.text))
                missing << QFileInfo(path).fileName() + QStringLiteral(": not in the .ts: ") + literal.text;
        }
    }
    QVERIFY(files > 50);
    for (const QString &text : missing) // all of them: a failure message is cut short
        qWarning().noquote() << text;
    QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QLatin1Char('\n'))));
}

QTEST_MAIN(TestTranslation)
#include "tst_translation.moc"
