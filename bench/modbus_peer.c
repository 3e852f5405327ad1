/* The yardstick for the control port's round trip: a minimal libmodbus TCP server on loopback
 * with 125 holding registers, serving one client at a time.
 *   modbus_peer <port>
 * Prints "ready" once it listens. */
#include <modbus.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    const int port = argc > 1 ? atoi(argv[1]) : 1502;
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
    modbus_mapping_t* map = modbus_mapping_new(0, 0, 125, 0);
    if (!ctx || !map)
        return 1;
    for (int i = 0; i < 125; ++i)
        map->tab_registers[i] = (uint16_t)(i * 0x0101);
    int server = modbus_tcp_listen(ctx, 1);
    if (server < 0) {
        fprintf(stderr, "modbus_peer: listen on port %d: %s\n", port, modbus_strerror(errno));
        return 1;
    }
    printf("ready\n");
    fflush(stdout);
    for (;;) {
        if (modbus_tcp_accept(ctx, &server) < 0)
            break;
        uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
        for (;;) {
            const int rc = modbus_receive(ctx, query);
            if (rc > 0)
                modbus_reply(ctx, query, rc, map);
            else if (rc < 0)
                break; /* the client has gone */
        }
        close(modbus_get_socket(ctx));
    }
    modbus_mapping_free(map);
    modbus_free(ctx);
    return 0;
}
