// Reads one keychain item and reports the outcome on stdout, for tests that need a process of its
// own (for example one without a Secret Service on its bus):
//   tessvale-keychain-probe SERVICE ACCOUNT
// prints "absent", "present <length>" or "error <status> <description>". Never prints the secret.
#include <cstdio>

#include <QCoreApplication>
#include <QTextStream>

#include "auth/KeychainStore.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 3) {
        std::fprintf(stderr, "usage: tessvale-keychain-probe SERVICE ACCOUNT\n");
        return 2;
    }
    QTextStream out(stdout);
    try {
        const tessvale::KeychainStore store(arguments.at(1));
        const std::optional<QString> value = store.read(arguments.at(2));
        if (value)
            out << "present " << value->size() << Qt::endl;
        else
            out << "absent" << Qt::endl;
    } catch (const tessvale::KeychainError& error) {
        out << "error " << error.status() << ' ' << error.description() << Qt::endl;
    }
    return 0;
}
