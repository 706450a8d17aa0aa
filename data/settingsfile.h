#pragma once

#include <QByteArray>
#include <QString>

QT_BEGIN_NAMESPACE
class QIODevice;
QT_END_NAMESPACE

// Reading and writing of options.xml, the file that keeps the main window's
// geometry, its tool-bar state and the last scene file name between runs.
//
// Layout written (UTF-8, four-blank indent, newline after every line):
//
//   <?xml version="1.0" encoding="UTF-8"?>
//   <options>
//       <Geometry>lower-case hex</Geometry>
//       <State>lower-case hex</State>
//       <SceneFileName>text</SceneFileName>
//   </options>
//
// An empty file name is written as <SceneFileName></SceneFileName> (the
// stream writer's form for an element with empty text).

// What a read found. A has* flag is set when the file carried a value for that
// setting; only then should the caller apply it.
struct StoredSettings
{
    QByteArray geometry;
    bool hasGeometry = false;
    QByteArray state;
    bool hasState = false;
    QString sceneFileName;
    bool hasSceneFileName = false;
};

// Installing the program puts a file of this name beside it; a build folder
// or an unpacked folder has none.
extern const char kInstalledMarker[];

// The file's place: options.xml in the user's configuration folder (created
// when missing) for an installed program, whatever its folder's permissions,
// so that nothing is ever written into a folder the package manager owns. A
// copy run from its build or an unpacked folder keeps it in applicationDir
// where that folder is writable, in the configuration folder otherwise.
QString settingsFilePath(const QString &applicationDir);
// The same for the directory of the executable.
QString settingsFilePath();

// Writes the whole file to an open, writable device. Returns false when the
// device is not writable or a write failed.
bool writeSettingsFile(QIODevice &device, const QByteArray &geometry, const QByteArray &state,
                       const QString &sceneFileName);

// Reads settings from an open device. Only the first text after a start
// element counts, and text of whitespace alone is no value. Element names are
// case-sensitive; unknown elements are skipped; the <options> element is just
// a container. Hex text may be upper or lower case; characters that are not
// hex digits are skipped, digits pair up from the start and a last unpaired
// digit is dropped. Reading stops at the first XML error, keeping what was
// read before it. Any input bytes are safe.
StoredSettings readSettingsFile(QIODevice &device);
