// The network page ("Rendszer / Hálózat"): the state and the tests of the server's network lines.
#pragma once

#include "frame_page.h"

class CzCExtGroup;

class NetworkPage : public FramePage {
    Q_OBJECT
  public:
    NetworkPage(const PageEntry& entry, QWidget* parent);

    CzCExtGroup* stateGroup() const { return m_state; }
    CzCExtGroup* checkGroup() const { return m_check; }

  private:
    CzCExtGroup *m_state, *m_check;
};
