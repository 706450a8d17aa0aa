// Renders the Markdown user manual into an A4 PDF with Qt's own text engine,
// so the build needs no LaTeX or pandoc. Pictures are looked up relative to the
// manual and shrunk to the text width; a picture that cannot be read fails the
// build instead of leaving a hole in the manual.
//
// usage: kv930_manualpdf <manual.md> <output.pdf>
#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>

#include <cstdio>

namespace {

// Layout units of the document: 96 per inch, the resolution the writer is set to.
constexpr int kResolution = 96;

void fail(const QString &message)
{
    std::fprintf(stderr, "kv930_manualpdf: %s\n", qPrintable(message));
}

// Code spans and blocks ask for a fixed-pitch font, which the default family
// alone does not give.
bool isCode(const QTextCharFormat &format)
{
    if (format.fontFixedPitch())
        return true;
    const QString fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    // Qt 6 keeps only the family list (fontFamily() fails on an empty one).
    return format.fontFamilies().toStringList().value(0) == fixed;
#else
    return format.fontFamily() == fixed;
#endif
}

// Every picture the document refers to, loaded and scaled to at most maxWidth;
// code set in a fixed-pitch family.
bool resolveImages(QTextDocument &doc, const QDir &baseDir, qreal maxWidth)
{
    bool ok = true;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid())
                continue;
            if (isCode(fragment.charFormat())) {
                QTextCharFormat format;
                format.setFontFamilies({QStringLiteral("DejaVu Sans Mono")});
                QTextCursor cursor(&doc);
                cursor.setPosition(fragment.position());
                cursor.setPosition(fragment.position() + fragment.length(),
                                   QTextCursor::KeepAnchor);
                cursor.mergeCharFormat(format);
                continue;
            }
            if (!fragment.charFormat().isImageFormat())
                continue;
            QTextImageFormat format = fragment.charFormat().toImageFormat();
            const QString name = format.name();
            const QString path = baseDir.absoluteFilePath(name);
            QImage image(path);
            if (image.isNull()) {
                fail(QStringLiteral("cannot read picture %1").arg(path));
                ok = false;
                continue;
            }
            doc.addResource(QTextDocument::ImageResource, QUrl(name), image);
            qreal width = image.width();
            qreal height = image.height();
            if (width > maxWidth) {
                height = height * maxWidth / width;
                width = maxWidth;
            }
            format.setWidth(width);
            format.setHeight(height);
            QTextCursor cursor(&doc);
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(format);
        }
    }
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        fail(QStringLiteral("usage: kv930_manualpdf <manual.md> <output.pdf>"));
        return 2;
    }
    const QString sourcePath = QString::fromLocal8Bit(argv[1]);
    const QString outputPath = QString::fromLocal8Bit(argv[2]);

    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("cannot read %1").arg(sourcePath));
        return 1;
    }
    const QString markdown = QString::fromUtf8(source.readAll());
    if (markdown.trimmed().isEmpty()) {
        fail(QStringLiteral("%1 is empty").arg(sourcePath));
        return 1;
    }

    // The PDF is written beside its final name and renamed into place, so an
    // interrupted build never leaves a truncated manual for the program to open.
    QSaveFile output(outputPath);
    if (!output.open(QIODevice::WriteOnly)) {
        fail(QStringLiteral("cannot write %1").arg(outputPath));
        return 1;
    }

    QPdfWriter writer(&output);
    writer.setResolution(kResolution);
    // QTextDocument::print() puts 2 cm margins and the page numbers inside the
    // printable area itself, so the page carries no margins of its own.
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter));
    writer.setTitle(QStringLiteral("KV930 Software User Manual"));
    writer.setCreator(QStringLiteral("KV930"));

    QTextDocument doc;
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(10);
    doc.setDefaultFont(font);
    doc.setDocumentMargin(0);
    doc.setMarkdown(markdown, QTextDocument::MarkdownDialectGitHub);

    const qreal printMargin = 2 / 2.54 * kResolution;
    const qreal textWidth =
        writer.pageLayout().paintRectPixels(kResolution).width() - 2 * printMargin - 2;
    if (!resolveImages(doc, QFileInfo(sourcePath).absoluteDir(), textWidth)) {
        output.cancelWriting();
        return 1;
    }

    doc.print(&writer);
    if (!output.commit()) {
        fail(QStringLiteral("cannot write %1").arg(outputPath));
        return 1;
    }
    return 0;
}
