target_sources(batchmp3core PRIVATE
    encoder/mp3enc.cpp encoder/mp3enc.h
)
