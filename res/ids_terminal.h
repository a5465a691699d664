// Resource numbers of terminal/.
#pragma once
