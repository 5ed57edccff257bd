// The console's question about an unknown SSH host key, asked from the worker thread as the
// console's operations ask it, against a real sshd.
#include <atomic>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include <QCoreApplication>

#include "app/host_key_question.h"
#include "lib/vx_err.h"
#include "remote/vx_remote.h"
#include "tests/support/ssh_server.h"
#include "widgets/dialog_answers.h"
#include "widgets/messagebox.h"

namespace {

// A remote command run on another thread while this (the UI) thread serves the question.
int execFromWorker(const std::string& destination) {
    std::atomic<int> result{-2};
    std::thread worker([&] { result = vxRemoteExec(destination.c_str(), "true"); });
    while (result == -2)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    worker.join();
    return result;
}

TEST(HostKeyQuestion, TheBoxShowsTheFingerprintAndOnlyYesAddsTheKey) {
    SshTestServer ssh;
    ASSERT_TRUE(ssh.running()) << ssh.error();
    setenv("ORVELAN_SSH_CONFIG", ssh.clientConfig().c_str(), 1);
    installHostKeyQuestion();
    const std::string destination = ssh.destination();
    const QString fingerprint = QString::fromStdString(ssh.hostFingerprint());

    DialogAnswers::button(MessageBox::No);
    EXPECT_EQ(execFromWorker(destination), -1);
    ASSERT_EQ(MessageBox::shown().size(), 1);
    const MessageBox::Shown box = MessageBox::lastShown();
    EXPECT_EQ(box.kind, MessageBox::Question);
    EXPECT_EQ(box.title, "SSH kulcs");
    EXPECT_TRUE(box.text.contains("Ujjlenyomat: " + fingerprint + "\n")) << box.text.toStdString();
    EXPECT_TRUE(box.text.contains(QString::fromStdString(destination)));
    EXPECT_EQ(readFileBytes(ssh.knownHosts()), "");

    DialogAnswers::button(MessageBox::Yes);
    EXPECT_EQ(execFromWorker(destination), 0) << vxLastError().text;
    EXPECT_EQ(MessageBox::shown().size(), 2);
    EXPECT_NE(readFileBytes(ssh.knownHosts()), "");

    // Asked once: a new connection knows the key.
    vxSshDisconnect();
    EXPECT_EQ(execFromWorker(destination), 0) << vxLastError().text;
    EXPECT_EQ(MessageBox::shown().size(), 2);
    EXPECT_EQ(DialogAnswers::pending(), 0);
    vxSshDisconnect();
    unsetenv("ORVELAN_SSH_CONFIG");
}

} // namespace
