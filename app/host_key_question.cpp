// The host key question of the link over SSH, asked on the UI thread.
#include "app/host_key_question.h"

#include <QCoreApplication>
#include <QThread>

#include "serverdata/sd_host.h"
#include "widgets/messagebox.h"

namespace {

bool askHostKey(const char* destination, const char* fingerprint) {
    const QString text =
        QStringLiteral("A(z) %1 szerver SSH kulcsa még nem ismert.\n\n"
                       "Ujjlenyomat: %2\n\n"
                       "Ellenőrizze az ujjlenyomatot a szerveren (ssh-keygen -lf). "
                       "Elfogadja a kulcsot?")
            .arg(QString::fromLocal8Bit(destination), QString::fromLatin1(fingerprint));
    MessageBox::Button answer = MessageBox::No;
    auto ask = [&] {
        answer =
            MessageBox::question(nullptr, QStringLiteral("SSH kulcs"), text, MessageBox::YesNo);
    };
    // The link's operations run on the worker thread; a box belongs to the UI thread, which
    // the worker waits for.
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread())
        ask();
    else
        QMetaObject::invokeMethod(app, ask, Qt::BlockingQueuedConnection);
    return answer == MessageBox::Yes;
}

} // namespace

void installHostKeyQuestion() {
    SdSetHostKeyQuestion(askHostKey);
}
