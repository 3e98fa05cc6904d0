# Fuzz targets of the link and network protocols (see CMakeLists.txt).
corvid_fuzz(extio_stream SOURCES extio_stream_fuzz.cpp
  LIBS corvid_trx corvid_errors corvid_core corvid_platform)
corvid_fuzz(ft817_reply SOURCES ft817_reply_fuzz.cpp
  LIBS corvid_trx corvid_core corvid_platform)
corvid_fuzz(cat_replies SOURCES cat_replies_fuzz.cpp LIBS corvid_remote)
corvid_fuzz(ws_handshake SOURCES ws_handshake_fuzz.cpp LIBS corvid_remote)
corvid_fuzz(ws_frames SOURCES ws_frames_fuzz.cpp LIBS corvid_remote corvid_core corvid_platform)
corvid_fuzz(keyboard_events SOURCES keyboard_events_fuzz.cpp LIBS corvid_ui corvid_core corvid_platform)
