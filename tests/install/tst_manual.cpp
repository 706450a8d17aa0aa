// The user manual as the build renders it, read back through poppler's tools,
// and the rendering tool's handling of pictures.
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
};

Run run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    // The rendering tool is a build step: leaks of Qt's platform plugin at its
    // exit are not what these tests look at.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    Run result;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.exitCode = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    return result;
}

QString pdfText(const QString &pdf)
{
    const Run r =
        run(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    return r.exitCode == 0 ? r.out : QString();
}

// "key: value" lines of pdfinfo.
QMap<QString, QString> pdfInfo(const QString &pdf)
{
    QMap<QString, QString> info;
    const Run r = run(QStringLiteral("pdfinfo"), {pdf});
    for (const QString &line : r.out.split(QLatin1Char('\n'))) {
        const int colon = line.indexOf(QLatin1Char(':'));
        if (colon > 0)
            info.insert(line.left(colon), line.mid(colon + 1).trimmed());
    }
    return info;
}

struct PdfImage
{
    int width = 0;
    int xPpi = 0;
};

// The pictures of a PDF as pdfimages -list reports them, in page order.
QList<PdfImage> pdfImages(const QString &pdf)
{
    QList<PdfImage> images;
    const Run r = run(QStringLiteral("pdfimages"), {QStringLiteral("-list"), pdf});
    for (const QString &line : r.out.split(QLatin1Char('\n'))) {
        const QStringList f = line.simplified().split(QLatin1Char(' '));
        // page num type width height color comp bpc enc interp object ID x-ppi y-ppi ...
        if (f.size() < 14 || f.at(2) != QLatin1String("image"))
            continue;
        images.append({f.at(3).toInt(), f.at(12).toInt()});
    }
    return images;
}

QString simplifiedHeading(QString heading)
{
    heading.remove(QLatin1Char('`'));
    heading.remove(QLatin1Char('*'));
    return heading.simplified();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

} // namespace

class TestManual : public QObject
{
    Q_OBJECT
private slots:
    void builtManualIsAnA4PdfWithEverySection();
    void builtManualCarriesEveryScreenshot();
    void widePicturesShrinkToTheTextWidthAndSmallOnesKeepTheirSize();
    void missingPictureFailsAndKeepsTheOldFile();
    void emptySourceFails();

private:
    QString readManualSource() const;
};

QString TestManual::readManualSource() const
{
    QFile file(QStringLiteral(KV930_SOURCE_DIR "/docs/manual.md"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

void TestManual::builtManualIsAnA4PdfWithEverySection()
{
    const QString pdf = QStringLiteral(KV930_MANUAL_PDF);
    QVERIFY2(QFile::exists(pdf), qPrintable(pdf));

    const QMap<QString, QString> info = pdfInfo(pdf);
    QVERIFY(info.value(QStringLiteral("Page size")).contains(QLatin1String("(A4)")));
    QVERIFY(info.value(QStringLiteral("Pages")).toInt() >= 3);
    QCOMPARE(info.value(QStringLiteral("Title")), QStringLiteral("KV930 Software User Manual"));

    const QString source = readManualSource();
    QVERIFY(!source.isEmpty());
    // Compatibility normalisation turns the typesetter's ligatures back into letters.
    const QString text = pdfText(pdf).normalized(QString::NormalizationForm_KC).simplified();
    QVERIFY(!text.isEmpty());

    // Every heading of the source must appear in the rendered text.
    const QRegularExpression heading(QStringLiteral("^#{1,3} +(.+)$"),
                                     QRegularExpression::MultilineOption);
    int headings = 0;
    for (auto it = heading.globalMatch(source); it.hasNext();) {
        const QString title = simplifiedHeading(it.next().captured(1));
        QVERIFY2(text.contains(title), qPrintable(title));
        ++headings;
    }
    QVERIFY(headings >= 10);

    // Facts a user looks up must survive the rendering.
    for (const char *fact : {"65,535", "options.xml", "virtualmeter.ini", "Table(XLS)",
                             "Chart(JPG)", "find_package(Kv930"}) {
        QVERIFY2(text.contains(QLatin1String(fact)), fact);
    }

    // Code is set in a fixed-pitch face.
    const Run fonts = run(QStringLiteral("pdffonts"), {pdf});
    QCOMPARE(fonts.exitCode, 0);
    QVERIFY(fonts.out.contains(QLatin1String("Mono")));
}

void TestManual::builtManualCarriesEveryScreenshot()
{
    const QString source = readManualSource();
    const QRegularExpression picture(QStringLiteral("!\\[[^\\]]*\\]\\(([^)]+)\\)"));
    QStringList referenced;
    for (auto it = picture.globalMatch(source); it.hasNext();)
        referenced << it.next().captured(1);
    QVERIFY(referenced.size() >= 3);

    for (const QString &name : referenced) {
        const QImage image(QStringLiteral(KV930_SOURCE_DIR "/docs/") + name);
        QVERIFY2(!image.isNull(), qPrintable(name));
        // Screenshots stay small in the repository.
        QVERIFY2(image.width() <= 1280 && image.height() <= 800, qPrintable(name));
    }

    const QList<PdfImage> images = pdfImages(QStringLiteral(KV930_MANUAL_PDF));
    QCOMPARE(images.size(), referenced.size());
}

void TestManual::widePicturesShrinkToTheTextWidthAndSmallOnesKeepTheirSize()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QImage wide(2400, 400, QImage::Format_RGB32);
    wide.fill(Qt::darkBlue);
    QVERIFY(wide.save(dir.filePath(QStringLiteral("wide.png"))));
    QImage small(192, 96, QImage::Format_RGB32);
    small.fill(Qt::darkGreen);
    QVERIFY(small.save(dir.filePath(QStringLiteral("small.png"))));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("m.md")),
                      "# Pictures\n\n![wide](wide.png)\n\nText between.\n\n![small](small.png)\n"));

    const QString pdf = dir.filePath(QStringLiteral("m.pdf"));
    QCOMPARE(run(QStringLiteral(KV930_MANUAL_TOOL), {dir.filePath(QStringLiteral("m.md")), pdf})
                 .exitCode,
             0);
    const QList<PdfImage> images = pdfImages(pdf);
    QCOMPARE(images.size(), 2);

    // A4 is 8.27 in wide; with its margins the text is at most about 6.7 in.
    QCOMPARE(images.at(0).width, 2400);
    QVERIFY(images.at(0).xPpi > 0);
    const double wideInches = 2400.0 / images.at(0).xPpi;
    QVERIFY2(wideInches <= 6.8 && wideInches >= 5.5, qPrintable(QString::number(wideInches)));

    // 192 px at 96 per inch: two inches, not stretched.
    QCOMPARE(images.at(1).width, 192);
    QVERIFY(images.at(1).xPpi > 0);
    const double smallInches = 192.0 / images.at(1).xPpi;
    QVERIFY2(qAbs(smallInches - 2.0) < 0.25, qPrintable(QString::number(smallInches)));

    QVERIFY(pdfText(pdf).contains(QLatin1String("Text between.")));
}

void TestManual::missingPictureFailsAndKeepsTheOldFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(writeFile(dir.filePath(QStringLiteral("m.md")),
                      "# Title\n\n![gone](images/not-there.png)\n"));
    const QString pdf = dir.filePath(QStringLiteral("m.pdf"));
    const QByteArray previous("an earlier manual");
    QVERIFY(writeFile(pdf, previous));

    QVERIFY(run(QStringLiteral(KV930_MANUAL_TOOL), {dir.filePath(QStringLiteral("m.md")), pdf})
                .exitCode > 0);
    QFile file(pdf);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), previous);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2);
}

void TestManual::emptySourceFails()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(writeFile(dir.filePath(QStringLiteral("m.md")), "  \n"));
    const QString pdf = dir.filePath(QStringLiteral("m.pdf"));
    QVERIFY(run(QStringLiteral(KV930_MANUAL_TOOL), {dir.filePath(QStringLiteral("m.md")), pdf})
                .exitCode > 0);
    QVERIFY(!QFile::exists(pdf));
    QVERIFY(run(QStringLiteral(KV930_MANUAL_TOOL), {dir.filePath(QStringLiteral("none.md")), pdf})
                .exitCode > 0);
    QVERIFY(!QFile::exists(pdf));
}

QTEST_GUILESS_MAIN(TestManual)
#include "tst_manual.moc"
