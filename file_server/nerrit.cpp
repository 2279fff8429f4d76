#include "file_server/nerrit.h"

#include "file_server/server_instance.h"

namespace zelvo::file_server {

namespace {
LinkFraming framing;
FileService files;
} // namespace

LinkFraming& serverFraming()
{
    return framing;
}

FileService& serverFiles()
{
    return files;
}

void resetServer()
{
    framing.reset();
    files.reset();
}

} // namespace zelvo::file_server

extern "C" {

int32_t ServerReceive(unsigned char* buffer, int32_t position, int32_t byte)
{
    if (!buffer)
        return -1;
    return zelvo::file_server::framing.receive(buffer, position, byte);
}

int32_t ServerDispatch(unsigned char* buffer)
{
    if (!buffer)
        return 0;
    return zelvo::file_server::framing.dispatch(buffer, zelvo::file_server::files);
}

uint32_t* ServerStatistic(uint32_t* record)
{
    if (record)
        zelvo::file_server::framing.statistic(record);
    return record;
}

} // extern "C"
