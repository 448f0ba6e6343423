target_sources(batchmp3core PRIVATE
    console/consolebatch.cpp console/consolebatch.h
    console/consoletext.cpp console/consoletext.h
    console/convertmode.cpp console/convertmode.h
)
