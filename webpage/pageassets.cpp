// SPDX-License-Identifier: MIT
#include "webpage/pageassets.h"

std::optional<PageAsset> pageAsset(const QString &)
{
    return std::nullopt;
}
