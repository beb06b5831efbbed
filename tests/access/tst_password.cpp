#include "TempArchive.h"

#include "access/Password.h"

#include <QScopeGuard>

// Passwords must read exactly as the earlier Windows system (code page 936) wrote them.
class TestPassword : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        testing::isolateSettings();
        access::setHashCostForTests(1, 8192); // the cheapest hash: the tests check what, not how slow
    }

    void asciiIsLoweredByThree()
    {
        QCOMPARE(access::encode(QStringLiteral("abc")), QStringLiteral("^_`"));
        QCOMPARE(access::encode(QStringLiteral("#")), QStringLiteral(" "));
        QCOMPARE(access::encode(QStringLiteral("ABC123")), QStringLiteral(">?@./0"));
        QCOMPARE(access::encode(QStringLiteral("a b")), QStringLiteral("^\x1d_"));
        QCOMPARE(access::decode(QStringLiteral("^_`")), QStringLiteral("abc"));
        QCOMPARE(access::encode(QString()), QString());
        // Every printable character travels both ways unchanged.
        QString printable;
        for (char c = 0x20; c < 0x7f; ++c)
            printable += QLatin1Char(c);
        const QString encoded = access::encode(printable);
        for (int i = 0; i < printable.size(); ++i)
            QCOMPARE(encoded.at(i).unicode(), ushort(printable.at(i).unicode() - 3));
        QCOMPARE(access::decode(encoded), printable);
    }

    void gbkCodesOfKnownCharacters()
    {
        QCOMPARE(access::gbkCode(U'啊'), 0xB0A1);
        QCOMPARE(access::gbkCode(U'病'), 0xB2A1);
        QCOMPARE(access::gbkCode(U'a'), 0x61);
        QCOMPARE(access::gbkCode(U'€'), 0x80); // the single-byte euro sign of code page 936
        QCOMPARE(access::gbkCode(U'😀'), -1);
        QCOMPARE(access::fromGbkCode(0xB09E), int(U'盀'));
        QCOMPARE(access::fromGbkCode(0xB0), -1);   // a lead byte alone is no character
        QCOMPARE(access::fromGbkCode(0x4142), -1); // two single-byte characters
        QCOMPARE(access::fromGbkCode(0x813D), -1); // trail byte out of range
    }

    void chineseIsLoweredAsOneDoubleByteCode()
    {
        // 啊 B0A1 → B09E 盀, 病 B2A1 → B29E 矠, 案 B0B8 → B0B5 暗
        QCOMPARE(access::encode(QStringLiteral("啊病案")), QStringLiteral("盀矠暗"));
        // 管 B9DC → B9D9 官, 理 C0ED → C0EA 狸, 员 D4B1 → D4AE 援, 密 C3DC → 觅, 码 C2EB → 妈
        QCOMPARE(access::encode(QStringLiteral("管理员a密码")), QStringLiteral("官狸援^觅妈"));
        QCOMPARE(access::decode(QStringLiteral("官狸援^觅妈")), QStringLiteral("管理员a密码"));
        QCOMPARE(access::decode(QStringLiteral("}")), QStringLiteral("€"));
    }

    void roundTripOfCommonText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("ascii") << QStringLiteral("Pass word_1!~{}");
        QTest::newRow("chinese") << QStringLiteral("病案管理系统电子档案照片检索张三李四王五");
        QTest::newRow("mixed") << QStringLiteral("管理员2024abc");
        QTest::newRow("punctuation") << QStringLiteral("，。！？（）");
    }

    void roundTripOfCommonText()
    {
        QFETCH(QString, text);
        QCOMPARE(access::decode(access::encode(text)), text);
    }

    void charactersWithoutALoweredCodeFallBackDeterministically()
    {
        // 丂 is 8140: 813D is no GBK character, so the code point is lowered instead.
        QCOMPARE(access::encode(QStringLiteral("丂")), QString(QChar(0x4DFF)));
        // No GBK code at all (outside the basic plane, too): the code point is lowered.
        QCOMPARE(access::encode(QStringLiteral("😀")), QString::fromUcs4(U"\U0001F5FD"));
        QCOMPARE(access::decode(QString::fromUcs4(U"\U0001F5FD")), QStringLiteral("😀"));
        // Codes below 3 have nowhere to go and stay as they are.
        const QString low = QString(QChar(1)) + QChar(2);
        QCOMPARE(access::encode(low), low);
        QCOMPARE(access::encode(QStringLiteral("丂😀x")), access::encode(QStringLiteral("丂😀x")));
    }

    void legacyStoredFormTrimsAsTheEarlierWindowDid()
    {
        QCOMPARE(access::legacyStoredForm(QStringLiteral("  abc  ")), QStringLiteral("^_`"));
        QCOMPARE(access::legacyStoredForm(QStringLiteral("#abc#")), QStringLiteral("^_`"));
        QCOMPARE(access::legacyStoredForm(QStringLiteral("a#c")), QStringLiteral("^ `"));
        QCOMPARE(access::shownForm(QStringLiteral("^ `")), QStringLiteral("a#c"));
        QCOMPARE(access::shownForm(QStringLiteral("^ ` ")), QStringLiteral("a#c"));
        QCOMPARE(access::shownForm(QString()), QString());
        QVERIFY(!access::isCurrentForm(QStringLiteral("^_`")));
        QVERIFY(!access::isCurrentForm(QString()));
        // Blanks kept around the encoded text by another tool still read as the earlier form.
        QVERIFY(!access::isCurrentForm(QStringLiteral("  ^_`  ")));
        QCOMPARE(access::shownForm(QStringLiteral("  ^_`  ")), QStringLiteral("abc"));
        QVERIFY(access::passwordMatches(QStringLiteral("abc"), QStringLiteral("  ^_`  ")));
        QCOMPARE(access::trimBlanks(QStringLiteral(" \tx ")), QStringLiteral("\tx"));
    }

    void storedFormKeepsEveryHash()
    {
        // U+10FFFF marks the form, then the encoding of the typed text, blanks kept.
        const QString m = QString::fromUcs4(U"\U0010FFFF", 1);
        QCOMPARE(access::storedForm(QStringLiteral("  abc  ")), m + QStringLiteral("^_`"));
        QCOMPARE(access::storedForm(QStringLiteral("#abc#")), m + QStringLiteral(" ^_` "));
        QCOMPARE(access::storedForm(QString()), m);
        QCOMPARE(access::storedForm(QStringLiteral("a*b")), m + QStringLiteral("^'_"));
        // No typed character encodes to the marker.
        QVERIFY(!access::encode(QString::fromUcs4(U"\U0010FFFF\U0010FFFE\U0010FFFD", 3)).contains(m));
        for (const QString &p : {QStringLiteral("#abc#"), QStringLiteral("a#"), QStringLiteral("#"),
                                 QStringLiteral("管理员 #"), QString()}) {
            QVERIFY(access::isCurrentForm(access::storedForm(p)));
            QCOMPARE(access::shownForm(access::storedForm(p)), p);
        }
    }

    void passwordMatchingOfTheEarlierForm()
    {
        QVERIFY(access::passwordMatches(QStringLiteral("abc"), QStringLiteral("^_`")));
        QVERIFY(access::passwordMatches(QStringLiteral("  abc "), QStringLiteral("^_`")));
        QVERIFY(!access::passwordMatches(QStringLiteral("ABC"), QStringLiteral("^_`")));
        QVERIFY(!access::passwordMatches(QStringLiteral("a bc"), QStringLiteral("^_`")));
        QVERIFY(access::passwordMatches(QString(), QString()));
        QVERIFY(access::passwordMatches(QStringLiteral("   "), QStringLiteral("")));
        QVERIFY(!access::passwordMatches(QStringLiteral("x"), QString()));
        QVERIFY(access::passwordMatches(QStringLiteral("管理员"), QStringLiteral("官狸援")));
        // The earlier window dropped the '#'s at either end: they may be typed or not.
        for (const QString &typed : {QStringLiteral("abc"), QStringLiteral("abc#"), QStringLiteral("#abc"),
                                     QStringLiteral("##abc#")})
            QVERIFY2(access::passwordMatches(typed, access::legacyStoredForm(QStringLiteral("abc#"))),
                     qPrintable(typed));
        QVERIFY(!access::passwordMatches(QStringLiteral("abc*"), QStringLiteral("^_`")));
    }

    void passwordMatchingOfTheCurrentForm()
    {
        // Exactly the password typed opens it; blanks before and after never count.
        const QString cases[] = {QStringLiteral("abc"), QStringLiteral("abc#"), QStringLiteral("#abc"),
                                 QStringLiteral("#abc#"), QStringLiteral("#"), QString(),
                                 QStringLiteral("a*b'c"), QStringLiteral("管理员"), QStringLiteral("a b")};
        for (const QString &set : cases) {
            const QString stored = access::storedForm(set);
            for (const QString &typed : cases)
                QCOMPARE(access::passwordMatches(typed, stored), typed == set);
            QVERIFY(access::passwordMatches(QStringLiteral("  ") + set + QStringLiteral(" "), stored));
            QVERIFY(!access::passwordMatches(set + QStringLiteral("#"), stored));
            QVERIFY(!access::passwordMatches(QStringLiteral("#") + set, stored));
        }
    }

    // ------------------------------------------------------------ the hash

    void hashOpensWithExactlyWhatWasTyped()
    {
        // Pairs the earlier encodings could not tell apart, case variants, one character
        // more or less, blanks inside: each opens its own hash and no other.
        const QString cases[] = {QStringLiteral("mötley"), QStringLiteral("mūtley"), QStringLiteral("丅口令"),
                                 QStringLiteral("丆口令"), QStringLiteral("abc"), QStringLiteral("ABC"),
                                 QStringLiteral("Abc"), QStringLiteral("ab"), QStringLiteral("abcd"),
                                 QStringLiteral("a bc"), QStringLiteral("a  bc"), QStringLiteral("#abc"),
                                 QStringLiteral("abc#"), QStringLiteral("😀x"), QStringLiteral("管理员")};
        // The pairs collide in the earlier encodings: the reason for the hash.
        QCOMPARE(access::encode(QStringLiteral("mötley")), access::encode(QStringLiteral("mūtley")));
        QCOMPARE(access::encode(QStringLiteral("丅口令")), access::encode(QStringLiteral("丆口令")));
        for (const QString &set : cases) {
            const QString stored = access::hashedForm(set);
            QVERIFY(access::isHashedForm(stored));
            QVERIFY(!access::isCurrentForm(stored));
            QVERIFY(access::isUpToDate(stored));
            QVERIFY(access::hasPassword(stored));
            for (const QString &typed : cases)
                QVERIFY2(access::passwordMatches(typed, stored) == (typed == set), qPrintable(set + QLatin1Char('/') + typed));
            // Blanks before and after never count, as everywhere.
            QVERIFY(access::passwordMatches(QStringLiteral(" ") + set + QStringLiteral("  "), stored));
            QVERIFY(!access::passwordMatches(QString(), stored));
            // Nothing of the password can be read back.
            QVERIFY(!stored.contains(set) && !stored.contains(access::encode(set)));
        }
    }

    // The program's own cost, hashed once (a fraction of a second): what a stolen file
    // costs per guess is fixed by these figures, not by the tests' cheap ones.
    void theProgramsHashTakesSixtyFourMebibytesAndThreePasses()
    {
        access::setHashCostForTests(0, 0);
        const QString stored = access::hashedForm(QStringLiteral("病案室2024"));
        access::setHashCostForTests(1, 8192);
        const QString marker = QString::fromUcs4(U"\U0010FFFE", 1);
        QVERIFY2(stored.startsWith(marker + QStringLiteral("$argon2id$v=19$m=65536,t=3,p=1$")), qPrintable(stored.mid(2)));
        QVERIFY(access::passwordMatches(QStringLiteral("病案室2024"), stored));
        QVERIFY(!access::passwordMatches(QStringLiteral("病案室2025"), stored));
    }

    void hashFormAsStored()
    {
        const QString marker = QString::fromUcs4(U"\U0010FFFE", 1);
        const QString a = access::hashedForm(QStringLiteral("secret"));
        const QString b = access::hashedForm(QStringLiteral("secret"));
        QVERIFY(a.startsWith(marker + QStringLiteral("$argon2id$v=19$")));
        QVERIFY(a != b); // a salt of its own each time
        QVERIFY(access::passwordMatches(QStringLiteral("secret"), b));
        // The empty password keeps its marked form, which the window shows as no password
        // and which "#" does not open (the earlier system's empty text would).
        QCOMPARE(access::hashedForm(QStringLiteral("   ")), access::storedForm(QString()));
        QVERIFY(access::passwordMatches(QString(), access::hashedForm(QString())));
        QVERIFY(!access::passwordMatches(QStringLiteral("#"), access::hashedForm(QString())));
        QVERIFY(access::passwordMatches(QStringLiteral("#"), QString()));
        QVERIFY(access::isUpToDate(access::hashedForm(QString())));
        QVERIFY(!access::hasPassword(access::hashedForm(QString())));
        // The earlier forms are what a login replaces; an empty one needs nothing.
        QVERIFY(!access::isUpToDate(QStringLiteral("^_`")));
        QVERIFY(!access::isUpToDate(access::storedForm(QStringLiteral("x"))));
        QVERIFY(!access::isUpToDate(QString()));
        QVERIFY(!access::isUpToDate(QStringLiteral("")));
        QVERIFY(!access::hasPassword(access::storedForm(QString())));
        QVERIFY(access::hasPassword(access::storedForm(QStringLiteral("#"))));
        QVERIFY(!access::hasPassword(QStringLiteral("   ")));
        QVERIFY(access::hasPassword(QStringLiteral("^")));
        // A text of the earlier form that looks like libsodium's string is no hash.
        const QString lookalike = a.mid(marker.size());
        QVERIFY(!access::isHashedForm(lookalike));
        QVERIFY(!access::passwordMatches(QStringLiteral("secret"), lookalike));
    }

    void hostileHashesOpenNothing()
    {
        // A stored hash is read from a file from outside: one claiming more memory or time
        // than any this program makes is refused before libsodium would spend it, and a
        // damaged one opens nothing.
        const QString marker = QString::fromUcs4(U"\U0010FFFE", 1);
        const QString good = access::hashedForm(QStringLiteral("pw")).mid(marker.size());
        QVERIFY(access::passwordMatches(QStringLiteral("pw"), marker + good));
        QString huge = good;
        huge.replace(QRegularExpression(QStringLiteral("m=[0-9]+")), QStringLiteral("m=4194304"));
        QString slow = good;
        slow.replace(QRegularExpression(QStringLiteral("t=[0-9]+")), QStringLiteral("t=100000"));
        QString cut = good.left(good.size() - 5);
        QString other = good;
        other.replace(QStringLiteral("argon2id"), QStringLiteral("argon2i"));
        for (const QString &bad : {huge, slow, cut, other, QString(), QStringLiteral("$argon2id$")}) {
            QVERIFY2(!access::passwordMatches(QStringLiteral("pw"), marker + bad), qPrintable(bad));
        }
    }

    // The bounds hold each alone and together, and a hash beyond them is never run: a
    // genuine one with a pass too many opens nothing, with libsodium never asked.
    void costlyHashesAreRefusedBeforeTheyRun()
    {
        const QString marker = QString::fromUcs4(U"\U0010FFFE", 1);
        int runs = 0;
        access::setHashCheckObserverForTests([&runs] { ++runs; });
        const auto restore = qScopeGuard([] { access::setHashCheckObserverForTests({}); });
        access::setHashCostForTests(16, 8192);
        const QString sixteen = access::hashedForm(QStringLiteral("pw"));
        access::setHashCostForTests(17, 8192);
        const QString seventeen = access::hashedForm(QStringLiteral("pw"));
        access::setHashCostForTests(1, 8192);
        QVERIFY(seventeen.contains(QStringLiteral(",t=17,")));
        QVERIFY(!access::passwordMatches(QStringLiteral("pw"), seventeen));
        QCOMPARE(runs, 0);
        QVERIFY(access::passwordMatches(QStringLiteral("pw"), sixteen));
        QCOMPARE(runs, 1);
        const auto costing = [&](const char *memory, const char *passes) {
            QString h = sixteen;
            h.replace(QRegularExpression(QStringLiteral("m=[0-9]+,t=[0-9]+")),
                      QStringLiteral("m=%1,t=%2").arg(QLatin1String(memory), QLatin1String(passes)));
            return access::hashCheckAffordable(h);
        };
        QVERIFY(costing("1048576", "1"));  // a gibibyte once
        QVERIFY(costing("65536", "16"));   // 64 MiB sixteen times
        QVERIFY(!costing("1048576", "16")); // both at once: seconds at every attempt
        QVERIFY(!costing("1048576", "2"));
        QVERIFY(!costing("1048577", "1"));
        QVERIFY(!costing("8", "0"));
        QVERIFY(!access::passwordMatches(QStringLiteral("pw"), marker + QStringLiteral("$argon2id$v=19$m=1048576,t=16,p=1$")
                                                                   + sixteen.section(QLatin1Char('$'), 4)));
        QCOMPARE(runs, 1);
    }

    void lengthCountsCharacters()
    {
        // 20 characters are allowed, whatever their UTF-16 length; 21 are refused, never cut.
        const QString emoji = QString::fromUcs4(U"\U0001F600", 1);
        const QString twenty = QString(19, QLatin1Char('a')) + emoji; // 21 UTF-16 units
        QCOMPARE(access::passwordLength(twenty), 20);
        QCOMPARE(access::passwordProblem(twenty), QString());
        QCOMPARE(access::passwordProblem(QStringLiteral("  ") + twenty + QStringLiteral(" ")), QString());
        QCOMPARE(access::passwordProblem(twenty + QLatin1Char('b')), QStringLiteral("口令最长 20 个字符，请重新输入。"));
        QCOMPARE(access::passwordProblem(QString(20, QChar(0x75C5))), QString());
        QCOMPARE(access::passwordProblem(QString(21, QChar(0x75C5))), QStringLiteral("口令最长 20 个字符，请重新输入。"));
        // Half a character is never stored: a lone surrogate is refused.
        QCOMPARE(access::passwordProblem(QString(19, QLatin1Char('a')) + emoji.at(0)),
                 QStringLiteral("口令之中有无法保存的字符，请重新输入。"));
        QVERIFY(access::passwordMatches(twenty, access::hashedForm(twenty)));
        QVERIFY(!access::passwordMatches(twenty.left(20), access::hashedForm(twenty)));
    }
};

QTEST_MAIN(TestPassword)
#include "tst_password.moc"
