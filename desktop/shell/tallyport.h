#pragma once

#include <QString>

// What the game tells the tally list: a game started or a board cleared, and a cleared game's
// score. The main window holds one of these; the program's windows pass it on to the tally list.
class TallyPort {
 public:
  virtual ~TallyPort() = default;
  // column 1: one more game played; column 2: one more board cleared.
  virtual void addtomineincrease(int column) = 0;
  virtual void checkscore(int score, const QString& name) = 0;
};
