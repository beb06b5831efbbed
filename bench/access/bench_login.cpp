// Measures one login's password check: the Argon2id hash that passwords set from now on
// are stored as, at the program's own cost, against the earlier encoded form. Prints
// figures; it is not a test and asserts nothing. The hash is meant to take a fraction of a
// second: long enough that guessing through a stolen archive is slow, short enough that an
// operator does not wait.
#include "access/Password.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
template <typename F>
double medianMs(int runs, F f)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        f();
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString password = QStringLiteral("病案Pass2024");
    QString stored;
    const double hashing = medianMs(5, [&] { stored = access::hashedForm(password); });
    bool ok = true;
    const double verifying = medianMs(5, [&] { ok = access::passwordMatches(password, stored) && ok; });
    const double wrong = medianMs(5, [&] { ok = !access::passwordMatches(QStringLiteral("病案Pass2025"), stored) && ok; });
    const QString earlier = access::legacyStoredForm(password);
    const double legacy = medianMs(101, [&] { ok = access::passwordMatches(password, earlier) && ok; });
    std::printf("password hash (Argon2id, the program's cost): make %.1f ms, login check %.1f ms, wrong "
                "password %.1f ms (median of 5)\n",
                hashing, verifying, wrong);
    std::printf("earlier encoded form, login check: %.3f ms (median of 101)\n", legacy);
    if (!ok)
        std::printf("warning: a check gave the wrong answer\n");
    return ok ? 0 : 1;
}
