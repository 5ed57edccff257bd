// The Setup page ("Rendszer / Setup"): the console's own settings.
#pragma once

#include "frame_page.h"

class CzCExtGroup;

class SetupPage : public FramePage {
    Q_OBJECT
  public:
    SetupPage(const PageEntry& entry, QWidget* parent);

    CzCExtGroup* serverGroup() const { return m_servers; }
    CzCExtGroup* speedGroup() const { return m_speeds; }
    CzCExtGroup* messageGroup() const { return m_messages; }

  private:
    CzCExtGroup *m_frame, *m_servers, *m_speeds, *m_messages;
};
