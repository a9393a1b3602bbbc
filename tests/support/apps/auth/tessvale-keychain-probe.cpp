// Runs one keychain operation and reports the outcome on stdout, for tests that need a process of
// its own (one without a Secret Service on its bus, or with a keyring that has no prompter):
//   tessvale-keychain-probe [read|delete] SERVICE ACCOUNT
// prints "absent", "present <length>", "deleted" or "error <status> <description>". Never prints
// the secret.
#include <cstdio>

#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>

#include <qcoro/qcorotask.h>

#include "auth/KeychainStore.h"
#include "platform/linux/auth/LibsecretSecretStore.h"

namespace {

QCoro::Task<> probe(QString operation, QString service, QString account)
{
    QTextStream out(stdout);
    try {
        const tessvale::KeychainStore store(service, std::make_shared<tessvale::LibsecretSecretStore>());
        if (operation == QLatin1String("delete")) {
            co_await store.deleteItem(account);
            out << "deleted" << Qt::endl;
        } else {
            const std::optional<QString> value = co_await store.read(account);
            if (value)
                out << "present " << value->size() << Qt::endl;
            else
                out << "absent" << Qt::endl;
        }
    } catch (const tessvale::KeychainError& error) {
        out << "error " << error.status() << ' ' << error.localizedDescription() << Qt::endl;
    }
    QCoreApplication::quit();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    if (arguments.size() == 2)
        arguments.prepend(QStringLiteral("read"));
    if (arguments.size() != 3) {
        std::fprintf(stderr, "usage: tessvale-keychain-probe [read|delete] SERVICE ACCOUNT\n");
        return 2;
    }
    QTimer::singleShot(0, &app, [&arguments] { probe(arguments.at(0), arguments.at(1), arguments.at(2)); });
    return app.exec();
}
