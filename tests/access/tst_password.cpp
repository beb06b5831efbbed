#include "TestSupport.h"

#include "access/Password.h"

// Passwords must read exactly as the earlier Windows system (code page 936) wrote them.
class TestPassword : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { testing::isolateSettings(); }

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
};

QTEST_MAIN(TestPassword)
#include "tst_password.moc"
