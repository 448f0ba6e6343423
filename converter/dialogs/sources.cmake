target_sources(batchmp3core PRIVATE
    dialogs/dialogdetails.cpp dialogs/dialogdetails.h
    dialogs/modopen.cpp dialogs/modopen.h
    dialogs/module1.cpp dialogs/module1.h
)
