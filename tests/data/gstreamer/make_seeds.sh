#!/usr/bin/env bash
# Makes the seed files of the GStreamer fuzz target with GStreamer's own
# encoders: five frames of the ball pattern at 64 x 48, and a quarter of a
# second of tone. Run from this folder; the files are kept in the tree.
set -euo pipefail
cd "$(dirname "$0")"
video="videotestsrc pattern=ball num-buffers=5 ! video/x-raw,width=64,height=48,framerate=10/1"
tone="audiotestsrc num-buffers=6 samplesperbuffer=1024 ! audio/x-raw,rate=22050,channels=1"
gst-launch-1.0 -q $video ! vp8enc ! webmmux ! filesink location=vp8.webm
gst-launch-1.0 -q $video ! theoraenc ! oggmux name=m ! filesink location=theora-vorbis.ogg \
  $tone ! audioconvert ! vorbisenc ! m.
gst-launch-1.0 -q $video ! x264enc ! video/x-h264,profile=main ! mp4mux name=m ! filesink location=h264-aac.mp4 \
  $tone ! voaacenc ! m.
gst-launch-1.0 -q $tone ! lamemp3enc ! filesink location=tone.mp3
gst-launch-1.0 -q $tone ! flacenc ! filesink location=tone.flac
gst-launch-1.0 -q $tone ! audioconvert ! audioresample ! opusenc ! oggmux ! filesink location=tone.opus
