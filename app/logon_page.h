// The LogOn page: the ADMINISTRATOR switch and the logon against the console password files.
#pragma once

#include <memory>

#include "app/page.h"

class QCheckBox;
class RoundButton;
class WaitCursor;

class LogOnPage : public Page {
    Q_OBJECT
  public:
    static constexpr int SWITCH_ID = 1097;
    static constexpr int BUTTON_ID = 1500;
    static constexpr int PICTURE_ID = 1501;

    explicit LogOnPage(QWidget* parent);
    ~LogOnPage() override;

    // CMD_PAGE_SHOWN and CMD_PAGE_HIDDEN change nothing on this page.
    void command(int id, quintptr param = 0) override;

    bool loggedOn() const { return m_loggedOn; }

    // The logon: asks for the password of the selected level and checks it (button 1500). The
    // check runs on the remote worker, with the switch and the button greyed; its outcome is
    // shown when it is back (logOnChecked).
    void logOn();
    bool checking() const { return m_wait != nullptr; }
    // The level change: reads the switch into SelectedLevel; off also drops GrantedLevel.
    void levelChanged();

    QCheckBox* levelSwitch() const { return m_switch; }
    RoundButton* logOnButton() const { return m_button; }
    RoundButton* pictureButton() const { return m_picture; }

  signals:
    // A password check's outcome was shown (after its message box, if any, was closed).
    void logOnChecked();

  private:
    void setChecking(bool on);
    void checked(int rc);

    QCheckBox* m_switch;
    RoundButton* m_button;
    RoundButton* m_picture;
    bool m_loggedOn = false;
    std::unique_ptr<WaitCursor> m_wait; // while a check runs
};
