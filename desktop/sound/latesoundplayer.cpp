#include "sound/latesoundplayer.h"

#include "sound/qtsoundplayer.h"

LateSoundPlayer::LateSoundPlayer(Factory make) : make_(std::move(make)) {
  if (!make_) make_ = [] { return std::make_unique<QtSoundPlayer>(); };
}

LateSoundPlayer::~LateSoundPlayer() = default;

void LateSoundPlayer::play(const QString& name) {
  if (player_) {
    player_->play(name);
  } else if (!prepared_) {
    held_ = name;
  }
}

void LateSoundPlayer::prepare() {
  if (prepared_) return;
  prepared_ = true;
  player_ = make_();
  if (!player_) return;
  player_->prepare();
  if (!held_.isEmpty()) player_->play(held_);
  held_.clear();
}
