#include "app/agent_config.h"

#include <cstdlib>

std::uint16_t port_from_argument(const char* argument)
{
    return static_cast<std::uint16_t>(std::atoi(argument));
}

std::vector<std::string> server_ini_template(const std::string& relay_host,
                                             std::uint16_t relay_port)
{
    return {
        "; Настройки Orvane\n",
        "; port — порт прослушивания (должен совпадать с клиентом)\n",
        "; allow — белый список IP через запятую (пусто = пускать всех)\n",
        ";   пример: allow=192.168.1.10, 192.168.1.20\n",
        "; password — пароль простым текстом, только для ручной установки: при следующем "
        "запуске программа сама зашифрует его в password_enc и очистит это поле.\n",
        "; password_enc — пароль, зашифрованный DPAPI (не редактируй вручную).\n",
        "; relay_host/relay_port/relay_id — режим релея (без проброса портов).\n",
        ";   если relay_host задан — агент не слушает порт, а сам идёт на релей.\n",
        ";   relay_id — латиница/цифры, по нему клиент находит эту машину.\n",
        "[server]\n",
        "port=" + std::to_string(DEFAULT_AGENT_PORT) + "\n",
        "allow=\n",
        "password=\n",
        "password_enc=\n",
        "relay_host=" + relay_host + "\n",
        "relay_port=" + std::to_string(relay_port) + "\n",
        "relay_id=\n",
        "accept_connections=1\n",
    };
}
