// Test movies with sound for the sound input and the compressed sound
// writer: Zanther (our Zanther writer), Vorn (our Vorn file writer), AVI
// (the AVI layer's writer), QuickTime (hand-built atoms) and .EXE hosts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sftest {

using Bytes = std::vector<uint8_t>;

// A 16 x 16 Zanther movie; sound[t][f] is the chunk of track t in frame f
// (empty: none).
Bytes zantherMovie(int32_t framePeriod, const std::vector<uint32_t> &trackWords,
                   const std::vector<std::vector<Bytes>> &sound, uint32_t frames);
Bytes rawChunk(const Bytes &pcm);
Bytes deltaChunk(const Bytes &pcm, bool stereo, bool wide);
uint32_t zantherTrackWord(uint32_t rate, bool stereo, bool wide, bool compressed);

// A Vorn movie with one transform-coded track; blocks[f] frames of sound in
// frame f.
Bytes vornMovie(uint32_t rate, uint32_t channels, bool sixteen, const std::vector<unsigned> &blocks,
                uint32_t rateNumerator = 30, uint32_t rateDenominator = 1);

// What a reader of the movie's track gives, frame after frame.
Bytes zantherTrackPcm(const std::string &name, uint32_t track);
Bytes vornTrackPcm(const std::string &name, uint32_t track);

// An AVI file with a w x h 8-bit video stream at fps and a PCM stream.
void writeAvi(const std::string &name, uint32_t fps, uint32_t frames, uint32_t rate, uint16_t bits,
              uint16_t channels, const Bytes &pcm, bool withVideo = true);

// A QuickTime movie with one "sowt" (little-endian) sound track.
Bytes quickTimeSound(uint32_t rate, uint32_t channels, const Bytes &pcm16le);

// A PE file whose string block 1 says ":<offset>", with movie at that offset.
Bytes exeWithMovie(const Bytes &movie);

}  // namespace sftest
