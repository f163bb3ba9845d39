#include "support/modalanswerer.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QtTest>

namespace {

constexpr int pollIntervalMs = 25;

QString labelText(QWidget *dialog, const char *name)
{
    auto *label = dialog->findChild<QLabel *>(QLatin1String(name));
    return label ? label->text() : QString();
}

QToolButton *visibleButton(QWidget *dialog, const QString &name)
{
    auto *button = dialog->findChild<QToolButton *>(name);
    return (button && button->isVisibleTo(dialog)) ? button : nullptr;
}

bool isFileDialog(QWidget *w)
{
    return qobject_cast<QFileDialog *>(w) != nullptr;
}

// Watches for the next QFileDialog and answers it once, then deletes itself.
class FileDialogAnswerer : public QObject
{
public:
    explicit FileDialogAnswerer(const QString &fileName)
        : QObject(qApp)
        , m_fileName(fileName)
    {
        connect(&m_timer, &QTimer::timeout, this, &FileDialogAnswerer::poll);
        m_timer.start(pollIntervalMs);
    }

private:
    void poll()
    {
        QFileDialog *dialog = nullptr;
        const auto widgets = QApplication::topLevelWidgets();
        for (QWidget *w : widgets) {
            if (isFileDialog(w) && w->isVisible()) {
                dialog = static_cast<QFileDialog *>(w);
                break;
            }
        }
        if (!dialog)
            return;
        m_timer.stop();
        // QFileDialog::accept() pops up its own warning box for a missing file
        // in "existing file" mode; cancel instead so the test cannot hang there.
        const bool wantsExisting = dialog->fileMode() == QFileDialog::ExistingFile
            || dialog->fileMode() == QFileDialog::ExistingFiles;
        if (m_fileName.isEmpty() || (wantsExisting && !QFileInfo::exists(m_fileName))) {
            dialog->reject();
        } else {
            dialog->selectFile(m_fileName);
            // selectFile() leaves the name field alone while it has the focus, which
            // it has whenever the application is active: type the name as a user would.
            if (auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                edit->setText(QFileInfo(m_fileName).fileName());
            // accept() is protected in QFileDialog; the QDialog slot dispatches to it.
            static_cast<QDialog *>(dialog)->accept();
            // never leave a test hanging in a dialog that refused the answer
            if (dialog->isVisible())
                dialog->reject();
        }
        deleteLater();
    }

    QTimer m_timer;
    QString m_fileName;
};

} // namespace

ModalAnswerer::ModalAnswerer(const QString &buttonName, int maxAnswers, QObject *parent)
    : QObject(parent)
    , m_button(buttonName)
    , m_maxAnswers(maxAnswers)
{
    connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::poll);
    if (m_maxAnswers != 0)
        m_timer.start(pollIntervalMs);
}

ModalAnswerer::~ModalAnswerer() = default;

void ModalAnswerer::answerNextFileDialog(const QString &fileName)
{
    new FileDialogAnswerer(fileName);
}

QDialog *ModalAnswerer::findDialog() const
{
    auto acceptable = [this](QWidget *w) -> QDialog * {
        auto *dialog = qobject_cast<QDialog *>(w);
        if (!dialog || !dialog->isVisible() || isFileDialog(dialog))
            return nullptr;
        if (dialog->objectName() == QLatin1String("TProgressBox") || m_ignored.contains(dialog->objectName()))
            return nullptr;
        for (const QPointer<QDialog> &done : m_done) {
            if (done == dialog)
                return nullptr;
        }
        const bool escape = m_button.compare(QLatin1String("escape"), Qt::CaseInsensitive) == 0;
        const bool hasButton = visibleButton(dialog, QStringLiteral("tbOk"))
            || visibleButton(dialog, QStringLiteral("tbCancel"));
        // A box without buttons is a wait box: the code closes it, not the user.
        if (!hasButton && !escape && dialog->findChild<QToolButton *>(QStringLiteral("tbOk")))
            return nullptr;
        return dialog;
    };

    if (QDialog *dialog = acceptable(QApplication::activeModalWidget()))
        return dialog;
    const auto widgets = QApplication::topLevelWidgets();
    for (QWidget *w : widgets) {
        if (QDialog *dialog = acceptable(w))
            return dialog;
    }
    return nullptr;
}

void ModalAnswerer::poll()
{
    // Forget dialogs that are gone or hidden, so a dialog shown again is answered again.
    m_done.removeIf([](const QPointer<QDialog> &d) { return d.isNull() || !d->isVisible(); });

    QDialog *dialog = findDialog();
    if (!dialog)
        return;

    QString title = labelText(dialog, "lblTitle");
    if (title.isEmpty())
        title = dialog->windowTitle();
    m_titles << title;
    m_messages << labelText(dialog, "lblMessage");
    m_done << dialog;
    ++m_answered;
    if (m_maxAnswers > 0 && m_answered >= m_maxAnswers)
        m_timer.stop();

    const bool escape = m_button.compare(QLatin1String("escape"), Qt::CaseInsensitive) == 0;
    QToolButton *button = escape ? nullptr : visibleButton(dialog, m_button);
    if (button && button->isEnabled())
        QTest::mouseClick(button, Qt::LeftButton);
    else
        dialog->reject();
}
