#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

class QDialog;

/// Answers modal dialogs from a timer, the way a user would.
///
/// While it lives it looks every few milliseconds for a modal dialog (the
/// active modal widget, or else any visible top-level QDialog), records its
/// title (text of its "lblTitle", else the window title) and message (text of
/// "lblMessage") and clicks the tool button with the configured object name.
/// The name "escape", or a button that is missing or hidden, rejects the
/// dialog instead (the result of Escape or the close control).
///
/// Left alone: the progress window, boxes without any visible Ok/Cancel button
/// (wait boxes, which the code closes itself; "escape" still rejects them) and
/// file dialogs (see answerNextFileDialog()).
class ModalAnswerer : public QObject
{
    Q_OBJECT
public:
    /// @param maxAnswers number of dialogs to answer; a negative value answers
    ///        every dialog for as long as the object lives.
    explicit ModalAnswerer(const QString &buttonName = QStringLiteral("tbOk"), int maxAnswers = 1,
                           QObject *parent = nullptr);
    ~ModalAnswerer() override;

    int answered() const { return m_answered; }
    QStringList titles() const { return m_titles; }
    QStringList messages() const { return m_messages; }
    /// Button used for the following answers.
    void setButton(const QString &buttonName) { m_button = buttonName; }
    /// Leaves dialogs of that object name alone (another helper answers them).
    void ignore(const QString &objectName) { m_ignored << objectName; }

    /// Answers the next non-native QFileDialog that appears: selects fileName
    /// and accepts, or cancels when fileName is empty (or names a missing file
    /// in a dialog that wants an existing one). One-shot; safe to call before
    /// the code under test opens the dialog.
    static void answerNextFileDialog(const QString &fileName);

private:
    void poll();
    QDialog *findDialog() const;

    QTimer m_timer;
    QString m_button;
    int m_maxAnswers;
    int m_answered = 0;
    QStringList m_titles;
    QStringList m_messages;
    QStringList m_ignored;
    QList<QPointer<QDialog>> m_done;
};
