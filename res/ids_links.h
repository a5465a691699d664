// Resource numbers of links/.
#pragma once
