// The Setup page ("Rendszer / Setup"): the console's own settings: the proxy server and the
// hosts the network page pings, the speeds of the three lines, the working hours, and the two
// console passwords.
#pragma once

#include <functional>

#include "pages/frame_page.h"

class CzCExtGroup;
class QLineEdit;
class QSpinBox;

class SetupPage : public FramePage {
    Q_OBJECT
  public:
    // Control ids (also the object names "edit<id>", "hours<id>", "button<id>").
    static constexpr int ID_PROXY = 1069, ID_INTERNET = 1070, ID_LAN = 1071, ID_INTRANET = 1073;
    static constexpr int ID_INTERNET_IN = 1005, ID_LAN_IN = 1008, ID_INTRANET_IN = 1011;
    static constexpr int ID_INTERNET_OUT = 1065, ID_LAN_OUT = 1066, ID_INTRANET_OUT = 1010;
    static constexpr int ID_START_HOUR = 1076, ID_START_MINUTE = 1078;
    static constexpr int ID_END_HOUR = 1077, ID_END_MINUTE = 1080;
    static constexpr int ID_LOAD = 1019, ID_SAVE = 1021, ID_ADMIN_PASSWORD = 141,
                         ID_USER_PASSWORD = 140;

    SetupPage(const PageEntry& entry, QWidget* parent);

    // CMD_PAGE_SHOWN: the level rule for the four buttons (or "Konfigurációs hiba !" in the
    // no-server state), then a load.
    void command(int id, quintptr param = 0) override;
    void applyAccess(bool editing) override;

    // "&Behívás": "setup.bin", the working hours and the server parameters into the fields.
    void load();
    // "&Mentés": the fields into "setup.bin", the registry store and the server's working hours.
    void save();
    // "&Adm jelszó" (level 1) and "&Usr jelszó" (level 0): a new console password. The server
    // part runs on the remote worker; passwordChanged when its outcome is shown.
    void changePassword(int level);
    bool changingPassword() const { return m_changing; }

    CzCExtGroup* serverGroup() const { return m_servers; }
    CzCExtGroup* speedGroup() const { return m_speeds; }
    CzCExtGroup* messageGroup() const { return m_messages; }
    // Server fields in the order proxy, Internet, LAN, intranet.
    QLineEdit* serverField(int i) const { return m_serverFields[i]; }
    // Speed fields in the order of LineSpeeds: Internet, LAN, intranet incoming, then outgoing.
    QLineEdit* speedField(int i) const { return m_speedFields[i]; }
    // Working hours: start hour, start minute, end hour, end minute.
    QSpinBox* hourField(int i) const { return m_hourFields[i]; }

  signals:
    void passwordChanged();

  private:
    // Runs work on the remote worker and waits for it, the page's buttons greyed.
    void onWorker(const std::function<void()>& work);
    void addServerFields();
    void addSpeedFields();
    void addHourFields();
    void addActionButtons();
    void showSpeeds();
    void setStatus(const QString& text);

    CzCExtGroup *m_frame, *m_servers, *m_speeds, *m_messages;
    QLineEdit* m_serverFields[4];
    QLineEdit* m_speedFields[6];
    QSpinBox* m_hourFields[4];
    RoundButton *m_load, *m_save, *m_adminPassword, *m_userPassword;
    bool m_changing = false; // a password change is on the remote worker
};
