// Writes audit records in a loop until killed: begins one with three changes, reports its id once
// committed, finishes it. The durability test kills it at random moments.

#include "audittrail.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    AuditTrail trail(QString::fromLocal8Bit(argv[1]));
    for (int n = 0; trail.isOpen(); ++n) {
        Audit::Operation op{ QStringLiteral("/dev/pts/9"), QStringLiteral("FF04"), QString::number(n),
                             QStringLiteral("TAG"), QStringLiteral("Запись"), {} };
        for (int i = 0; i < 3; ++i)
            op.changes.append({ QStringLiteral("Поле %1").arg(i), QString::number(n), QString::number(n + 1) });
        const qint64 id = trail.begin(op);
        std::printf("%lld\n", static_cast<long long>(id));
        std::fflush(stdout);
        trail.finish(id, n % 2 ? Audit::Outcome::Done : Audit::Outcome::Refused, n % 2 ? 0 : 7, QStringLiteral("x"));
    }
    return 1;
}
