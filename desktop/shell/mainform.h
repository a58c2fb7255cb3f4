#pragma once

#include <QByteArray>
#include <QMainWindow>
#include <QRect>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <random>

#include "game/deal.h"
#include "game/game.h"

class QAction;
class QLabel;
class QMenu;
class QLineEdit;
class QTimer;
class BoardScale;
class BoardView;
class CoachView;
class RecordPost;
class Companions;
class DealDialog;
class DealSolver;
class SolutionReplay;
class SoundPlayer;
class TallyPort;
class THTTPGet;
class UpdatePanel;
class TBone;
class TFlatPanel;
class TImageButton;
class TShape;

// Everything the main window needs from outside, handed in at creation so that the window can be
// built with the real program around it or with recorders and a scratch folder in a test.
struct TmainSetup {
  // Plays the sound cues; none: silence.
  SoundPlayer* sounds = nullptr;
  // Counts games and cleared boards; none until the tally window exists (settally()).
  TallyPort* tally = nullptr;
  // The settings file. Empty: "pipshift.ini" in the program's data folder.
  QString settingspath;
  // The score and update server used when the settings file names none; empty: the maker's site.
  QString defaultserver;
  // Seed of the deal's random generator; none: seeded from the clock.
  std::optional<std::uint32_t> seed;
  // The tick of the posting wait (ms); tests shorten it.
  int postinterval = 1000;
  // Shows a message and returns once the player has closed it; none: a modal message box.
  std::function<void(const QString&)> message;
  // Ends the program once the window has closed; none: the application's event loop is left.
  std::function<void()> endprogram;
  // The running program file, which an update moves aside; empty: this process's executable.
  QString programfile;
  // Ends the process at once once an update's installer runs; none: exit code 0 at once.
  std::function<void()> exitforupdate;
  // The public key an update's installer must be signed with; empty: the release key.
  QByteArray updatekey;
};

// The main window: the board view, the score, the menus and the overlay panels that stand in for
// dialogs. It turns what the player does to the board into calls on the game and hands the view
// what the game reports; the rules themselves live in game::Game, the drawing in BoardView.
//
// Window bounds (left, top, width, height) are the outer bounds, frame included, as the settings
// file stores them. Where the window manager draws a frame, that is frameGeometry(); before the
// window is mapped, and on platforms without a frame (offscreen), it equals geometry().
class Tmain : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr int defaultleft = 3;
  static constexpr int defaulttop = 3;
  static constexpr int defaultwidth = 604;
  static constexpr int defaultheight = 374;
  static constexpr int maxnamelength = 10;
  static constexpr int postticks = 40;
  // How long after showing the window FormShow runs at the latest, exposed or not (ms).
  static constexpr int formshowfallback = 2000;

  explicit Tmain(const TmainSetup& setup, QWidget* parent = nullptr);
  ~Tmain() override;

  // The other windows, handed over once they exist (they are created after this one).
  void settally(TallyPort* tally) { setup_.tally = tally; }
  void setcompanions(Companions* companions) { companions_ = companions; }

  // The settings file used when none is named: "pipshift.ini" in the data folder.
  static QString defaultsettingspath(const QString& productword);

  QString productword() const { return productword_; }
  QString installerfile() const { return installerfile_; }
  QString settingspath() const { return settingspath_; }
  // Server base addresses: the settings file's ScoreServer / UpdateServer, or the maker's site.
  QString scoreserver() const { return scoreserver_; }
  QString updateserver() const { return updateserver_; }

  // The game being played. Tests may set its board; showboard() then draws it.
  game::Game& game() { return game_; }
  const game::Game& game() const { return game_; }
  // Hands the view the game's board, and shows the clicks, clock and time bar.
  void showboard();
  // The board's scale: 1 at the window's own size, more in a larger window.
  BoardScale* boardscale() const;

  QRect bounds() const;
  void setbounds(const QRect& bounds);
  QSize clientsize() const;
  QRect savedbounds() const { return savedbounds_; }

  bool playsoundson() const;
  bool showhintson() const;
  bool updatecheckon() const;
  bool allowundoon() const;

  int postcountdown() const { return postcountdown_; }
  int postdots() const { return postdots_; }
  bool posting() const;

  // Handlers, named after what they serve. Public so tests drive them as the toolkit would.
  void button_startClick();
  void StartGame1Click();
  void Exit1Click();
  void ResetScreenLocation1Click();
  void ChangeName1Click();
  void button_namedoneClick();
  void button_namecancelClick();
  void image_okClick();
  void button_lostClick();
  void button_cancelClick();
  void TallyList1Click();
  void Help2Click();
  void About1Click();
  void image_logoClick();
  void ViewHighScoreList1Click();
  void button_highscoresClick();
  void button_sendscoreClick();
  // The score server answered a post: the wait is over.
  void postaccepted();
  // The score server refused a post: it failed at once.
  void postrefused();
  void Timer1Timer();
  void turntimerTimer();
  void checkupdateDoneString(THTTPGet* sender, const QByteArray& result);
  void button_updateyesClick();
  void button_updatecancelClick();
  // The update offer's panel and what it does.
  UpdatePanel* updateoffer() const { return updateoffer_; }
  // A click on a bone or a slot, or a key on the board's cursor (the view tells which).
  void bone_1MouseUp(TBone* sender);
  void shape_1MouseUp(TShape* sender);

  // Numbered deals: the deal again, a deal by its number, and once a game is over its fewest
  // placements, found on a worker thread and played back by Show Solution. A new deal counts as
  // a game started exactly as Start Game does.
  void startdeal(int dealnumber);
  void restartdeal();
  void choosedeal();
  // File > Deal of the Day: the deal the day's date in UTC names, the same for every player.
  void playdealoftheday();
  void showsolution();
  SolutionReplay* solutionreplay() const { return replay_; }
  // Ctrl+Z and the lost panel's Undo, while Options > Allow Undo is on: the last placement taken
  // back, for a click, and a game lost by leaving no move played on.
  void undomove();
  DealSolver* dealsolver() const;
  // Best Move, Show Winnable and what is said of a game once it has ended.
  CoachView* coach() const { return coach_; }

  void loadinifile();
  void saveinifile();
  void playsounds(const QString& name);

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool focusNextPrevChild(bool next) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;

 private:
  void FormCreate();
  // Runs once the first frame of the window is on screen: what the player need not wait for.
  void FormShow();
  void queueformshow();
  // The menu has already toggled the mark when this runs.
  void PlaySounds1Click();
  void FormClose();
  void FormResize();
  // The smallest client area the window takes.
  QSize leastclient() const;

  void buildwindow();
  void buildboard(QWidget* board1);
  void buildpanels(QWidget* board1);
  // What the panels answer to Enter and Esc, and what a screen reader is told of them.
  void buildaccess();
  // Show Solution has played its last placement: the end-of-game panel it covered comes back,
  // so that the cleared board's score can still be entered and posted.
  void endreplay(QWidget* covered);
  void buildmenus();
  // Allow Undo and Undo Move in the options menu, and the lost panel's Undo button.
  void buildundo(QMenu* options);
  void buildundobutton(TFlatPanel* panel);
  // The menu has already toggled the mark when this runs.
  void allowundotoggled();
  // Lays the lost panel out with its Undo button when a game lost by leaving no move can be
  // taken up again, and as ever otherwise.
  void offerundo();
  // Writes the settings with the given outer bounds.
  void writeinifile(const QRect& bounds);
  // Once the window manager has framed the window, makes the outer size the one asked for.
  void applypendingsize();

  // Acting on what a click or tick did.
  void showoutcome(const game::Outcome& outcome);
  void endgame(game::Ending ending);
  void showscore();
  void message(const QString& text);
  // The running program file, which an update replaces.
  QString programfile() const;

  void dealsolved(int deal);
  // The deal's number, and its best once known and the game is over.
  void showdeal();

  // What the window was handed; its tally is replaced once the tally window exists.
  TmainSetup setup_;
  Companions* companions_ = nullptr;

  QString productword_;
  QString installerfile_;
  QString settingspath_;
  QString scoreserver_;
  QString updateserver_;
  QRect savedbounds_{defaultleft, defaulttop, defaultwidth, defaultheight};
  std::optional<QSize> pendingsize_;
  bool formshowwatched_ = false;
  bool formshowqueued_ = false;

  game::Game game_;
  // Draws the number of each new deal.
  game::DealRandom random_{0};

  int postcountdown_ = 0;
  int postdots_ = 0;

  // The board with its slots, bones, highlight, time bar, cursor and keys; it holds the
  // components below that stand on it.
  BoardView* view_ = nullptr;
  // Components, by their names.
  QLabel* label_name = nullptr;
  QLabel* label_score = nullptr;

  TFlatPanel* panel_name = nullptr;
  QLineEdit* edit_aname = nullptr;
  TFlatPanel* panel_lost = nullptr;
  TFlatPanel* panel_invalid = nullptr;
  QLabel* label_invalid = nullptr;
  TFlatPanel* panel_cleared = nullptr;
  QLabel* label_unusedbonus = nullptr;
  QLabel* label_timebonus = nullptr;
  QLabel* label_score1 = nullptr;
  QLineEdit* edit_name = nullptr;
  TFlatPanel* panel_wait = nullptr;

  QAction* PlaySounds1 = nullptr;
  QAction* updatecheck = nullptr;
  QAction* ShowHints1 = nullptr;
  QAction* allowundo_ = nullptr;
  QAction* undomove_ = nullptr;
  TImageButton* undobutton_ = nullptr;

  // Numbered deals and their best lines.
  QLabel* deallabel_ = nullptr;
  QAction* showsolution_ = nullptr;
  SolutionReplay* replay_ = nullptr;
  CoachView* coach_ = nullptr;

  QTimer* Timer1 = nullptr;
  QTimer* turntimer = nullptr;
  THTTPGet* checkupdate = nullptr;
  // The record of the game whose score is being posted, sent once the post is accepted.
  RecordPost* recordpost_ = nullptr;
  UpdatePanel* updateoffer_ = nullptr;
};
