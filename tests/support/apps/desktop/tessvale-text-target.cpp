// A small target application for insertion and shortcut tests: one focused text field whose content
// is written (UTF-8) to the report file after every change, so a test can read what arrived.
//
//   tessvale-text-target --report FILE [--title TITLE] [--multiline] [--text INITIAL]
//
// Prints "READY <window id>" on stdout once the window is active and its field has the focus.
#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>

namespace {

void writeReport(const QString& path, const QString& text)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(text.toUtf8());
        file.commit();
    }
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    QCommandLineOption reportOption("report", "File that receives the field's text.", "file");
    QCommandLineOption titleOption("title", "Window title.", "title", "Tessvale Text Target");
    QCommandLineOption multilineOption("multiline", "Use a multi-line text edit.");
    QCommandLineOption textOption("text", "Initial text.", "text");
    parser.addOptions({ reportOption, titleOption, multilineOption, textOption });
    parser.process(app);
    const QString reportPath = parser.value(reportOption);

    QWidget window;
    window.setWindowTitle(parser.value(titleOption));
    auto* layout = new QVBoxLayout(&window);
    QWidget* field = nullptr;
    if (parser.isSet(multilineOption)) {
        auto* edit = new QPlainTextEdit(&window);
        edit->setAccessibleName(QStringLiteral("Target field"));
        edit->setPlainText(parser.value(textOption));
        QObject::connect(
            edit, &QPlainTextEdit::textChanged, [edit, reportPath] { writeReport(reportPath, edit->toPlainText()); });
        field = edit;
    } else {
        auto* edit = new QLineEdit(&window);
        edit->setAccessibleName(QStringLiteral("Target field"));
        edit->setText(parser.value(textOption));
        QObject::connect(
            edit, &QLineEdit::textChanged, [reportPath](const QString& text) { writeReport(reportPath, text); });
        field = edit;
    }
    layout->addWidget(field);
    window.resize(640, 200);
    window.show();
    window.activateWindow();
    field->setFocus();
    if (!reportPath.isEmpty())
        writeReport(reportPath, {});

    // READY only once the window manager has given us the keyboard focus: keys typed before that
    // would go elsewhere. After 5 s it is announced anyway and the test sees what arrives.
    QTimer readyPoll;
    QElapsedTimer sinceShown;
    sinceShown.start();
    QObject::connect(&readyPoll, &QTimer::timeout, [&] {
        const bool focused = window.isActiveWindow() && field->hasFocus();
        if (!focused && sinceShown.elapsed() < 5000)
            return;
        readyPoll.stop();
        std::printf("READY %llu\n", static_cast<unsigned long long>(window.winId()));
        std::fflush(stdout);
    });
    readyPoll.start(20);
    return app.exec();
}
