#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>
#include <QString>
#include <QWidget>

#include "runtime/files.h"
#include "runtime/ui_thread.h"
#include "text/encoding.h"

namespace {

// The chosen path as a Text, or the empty text when no Text names it exactly:
// a backslash would read as a separator, and a name that is not valid UTF-8
// would not convert back to the same folder.
Text folderText(const QString& chosen) {
  if (chosen.isEmpty()) return {};
  const QString path = QDir::cleanPath(QFileInfo(chosen).absoluteFilePath());
  if (path.contains(QLatin1Char('\\'))) return {};
  const QByteArray utf8 = path.toUtf8();
  Text text = utf8ToText(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
  if (textToUtf8(text) != std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())))
    return {};
  return text;
}

Text pickFolder(const Text& title, bool includeFiles) {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return {};
  const QPointer<QWidget> active = QApplication::activeWindow();
  QFileDialog dialog(active, QString::fromStdString(textToUtf8(title)), QDir::homePath());
  dialog.setObjectName("browseForFolderDialog");
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setOption(QFileDialog::ShowDirsOnly, !includeFiles);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setWindowModality(Qt::ApplicationModal);
  const bool accepted = dialog.exec() == QDialog::Accepted;
  if (active != nullptr) active->activateWindow();
  if (!accepted) return {};
  const QStringList chosen = dialog.selectedFiles();
  return chosen.isEmpty() ? Text() : folderText(chosen.first());
}

}  // namespace

Text browseForFolder(const Text& title, bool includeFiles) {
  Text result;
  runOnUiThread([&] { result = pickFolder(title, includeFiles); });
  return result;
}
