#pragma once

#include <QByteArray>
#include <QMainWindow>
#include <QPixmap>
#include <QRect>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>

#include "game/deal.h"
#include "game/game.h"
#include "game/solver.h"

class QAction;
class QLabel;
class QLineEdit;
class QLocalServer;
class QMenu;
class QTimer;
class RecordPost;
class Companions;
class DealSolver;
class Tchoosedeal;
class SoundPlayer;
class TallyPort;
class THTTPGet;
class UpdatePanel;
class BoardAccess;
class BoardCursor;
class BoardKeys;
class BoardScale;
class TBone;
class TFlatPanel;
class TImageButton;
class TPicture;
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

// The main window: the board, the score and clock, the menus and the overlay panels that stand in
// for dialogs. It turns clicks into calls on the game and draws what the game reports; the rules
// themselves live in game::Game.
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
  // The client area never gets smaller than the board frame plus a margin.
  static constexpr int minclientwidth = 598;
  static constexpr int minclientheight = 330;
  static constexpr int maxnamelength = 10;
  static constexpr int postticks = 40;
  // How long after showing the window FormShow runs at the latest, exposed or not (ms).
  static constexpr int formshowfallback = 2000;

  explicit Tmain(const TmainSetup& setup, QWidget* parent = nullptr);
  ~Tmain() override;

  // The other windows, handed over once they exist (they are created after this one).
  void settally(TallyPort* tally) { tally_ = tally; }
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
  // Draws every bone of the game's board on its slot and the clicks, clock and time bar.
  void showboard();
  // The board's scale: 1 at the window's own size, more in a larger window.
  BoardScale* boardscale() const { return scale_; }

  QRect bounds() const;
  void setbounds(const QRect& bounds);
  QSize clientsize() const;
  QRect savedbounds() const { return {savedleft_, savedtop_, savedwidth_, savedheight_}; }

  bool playsoundson() const;
  bool showhintson() const;
  bool updatecheckon() const;

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
  void bone_1MouseUp(TBone* sender);
  void shape_1MouseUp(TShape* sender);
  void shape_highliteMouseUp();
  // Space or Enter on the board's cursor: a click on that slot, or on the bone on it.
  void cursorClick(int slot);

  // Numbered deals: the deal again, a deal by its number, and once a game is over its fewest
  // placements, found on a worker thread and played back by Show Solution. A new deal counts as
  // a game started exactly as Start Game does.
  static constexpr int solutionstep = 500;  // ms between the placements played back
  void startdeal(int dealnumber);
  void RestartDeal1Click();
  void ChooseDeal1Click();
  // File > Deal of the Day: the deal the day's date in UTC names, the same for every player.
  void playdealoftheday();
  void ShowSolution1Click();
  void solutiontimerTimer();
  DealSolver* dealsolver() const { return dealsolver_; }

  void loadinifile();
  void saveinifile();
  void playsounds(const QString& name);
  void createbone(int slot, int bone);

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
  // The keyboard and the screen readers' view of the board.
  void buildaccess();
  // Show Solution has played its last placement: the end-of-game panel it covered comes back.
  void endreplay();
  void buildmenus();
  // Writes the settings with the given outer bounds.
  void writeinifile(const QRect& bounds);
  // Once the window manager has framed the window, makes the outer size the one asked for.
  void applypendingsize();

  // Acting on what a click or tick did.
  // The bone pictures at a density of device pixels to the board's pixels: 1x, or 2x above 1.
  void loadimagelists(qreal density);
  void boardrescaled();
  void resetslotcolours();
  void showoutcome(const game::Outcome& outcome);
  void showselection();
  void endgame(game::Ending ending);
  void showscore();
  void showclock();
  void message(const QString& text);
  // The running program file, which an update replaces.
  QString programfile() const;

  void dealsolved(int deal, const game::Solution& solution);
  // The board the bones show: the game's, or the one Show Solution has reached.
  const game::Board& shownboard() const;
  // Tells a screen reader of the board on show.
  void showaccess();
  // The deal's number, and its best once known and the game is over.
  void showdeal();

  TmainSetup setup_;
  SoundPlayer* sounds_ = nullptr;
  TallyPort* tally_ = nullptr;
  Companions* companions_ = nullptr;

  QString productword_;
  QString installerfile_;
  QString settingspath_;
  QString scoreserver_;
  QString updateserver_;
  int savedleft_ = defaultleft;
  int savedtop_ = defaulttop;
  int savedwidth_ = defaultwidth;
  int savedheight_ = defaultheight;
  std::optional<QSize> pendingsize_;
  bool formshowwatched_ = false;
  bool formshowqueued_ = false;

  game::Game game_;
  // Draws the number of each new deal.
  game::DealRandom random_{0};
  // The bone pictures are drawn from these: one blank face and the pip squares 0 to 9.
  QPixmap imagelist_back_h;
  std::array<QPixmap, 10> imagelist_dots_h;
  QLocalServer* mutex_ = nullptr;

  int postcountdown_ = 0;
  int postdots_ = 0;

  // Components, by their names. Families are indexed by their number (index 0 unused).
  TFlatPanel* panel_board = nullptr;
  QLabel* label_name = nullptr;
  TFlatPanel* panel_board1 = nullptr;
  QLabel* Image2 = nullptr;
  std::array<TShape*, game::kSlotCount + 1> shape{};
  TPicture* image_logo = nullptr;
  TImageButton* button_start = nullptr;
  QLabel* label_score = nullptr;
  std::array<TBone*, game::kBoneCount + 1> bone{};
  TShape* shape_highlite = nullptr;
  QLabel* Image1 = nullptr;
  QLabel* image_timer = nullptr;
  QLabel* label_timer = nullptr;

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

  QAction* StartGame1 = nullptr;
  QAction* PlaySounds1 = nullptr;
  QAction* updatecheck = nullptr;
  QAction* ShowHints1 = nullptr;

  BoardCursor* cursor_ = nullptr;
  BoardKeys* keys_ = nullptr;
  BoardAccess* access_ = nullptr;
  BoardScale* scale_ = nullptr;

  // Numbered deals and their best lines.
  QLabel* label_deal = nullptr;
  QAction* RestartDeal1 = nullptr;
  QAction* ChooseDeal1 = nullptr;
  QAction* ShowSolution1 = nullptr;
  QTimer* solutiontimer = nullptr;
  DealSolver* dealsolver_ = nullptr;
  Tchoosedeal* choosedeal_ = nullptr;
  int bestdeal_ = 0;
  std::optional<game::Solution> best_;
  game::Board replayboard_{};
  std::size_t replaystep_ = 0;
  // Show Solution's board is on show, from its start until a new game deals its own.
  bool replayshown_ = false;
  // The end-of-game panel the replay covered, shown again once it has played: the cleared
  // board's score can still be entered and posted afterwards.
  QWidget* replaypanel_ = nullptr;

  QTimer* Timer1 = nullptr;
  QTimer* turntimer = nullptr;
  THTTPGet* checkupdate = nullptr;
  // The record of the game whose score is being posted, sent once the post is accepted.
  RecordPost* recordpost_ = nullptr;
  UpdatePanel* updateoffer_ = nullptr;
};
