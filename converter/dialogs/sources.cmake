target_sources(batchmp3core PRIVATE
    dialogs/modopen.cpp dialogs/modopen.h
    dialogs/module1.cpp dialogs/module1.h
)
