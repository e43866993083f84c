#pragma once
#include <string>
#include <vector>

namespace rq::engine {

// A key of a board-model section as the program ships it.
struct BoardKey {
  const char* key;
  const char* value;
};

// The shipped section of a board model (compared without regard to case), empty
// when the program knows none for it. The sections describe how each known board
// wires its hardware monitor: which sensors it carries and what they are called.
const std::vector<BoardKey>& ShippedBoardSection(const std::string& boardModel);
std::vector<std::string> ShippedBoardModels();

// Copies the shipped section of `boardModel` into the settings file when the file
// holds none of its keys yet (a new file, or one from before this board was known).
// A section the user already has is left alone, key for key: edited values and
// keys removed on purpose stay as they are. Returns false when a write failed.
// True when the settings file holds any key of the board's shipped section.
bool HasBoardSection(const std::string& boardModel, const std::string& settingsFile);

bool InstallBoardSection(const std::string& boardModel, const std::string& settingsFile);

}  // namespace rq::engine
