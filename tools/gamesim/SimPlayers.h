#pragma once

#include "tools/gamesim/RtsScene.h"

class CGameMemory;

// The game state the statistics panel and unit markers read (the tables of
// v2.0.2.0), told consistently with the scene: four players in two teams,
// the scene's units with their owners, positions, damage and training, the
// view's corner, the map's unit table and the unit types' tables. Figures
// change over time; for a stretch of each cycle the players' first amounts
// add up to more than 5000, which freezes the panel's grouping.
void WritePlayers(const CRtsScene& scene, int frame, CGameMemory& memory);
